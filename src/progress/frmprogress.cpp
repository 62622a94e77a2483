// SPDX-License-Identifier: Apache-2.0
#include "frmprogress.h"

#include "common/artwork.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QStyleOptionProgressBar>
#include <QTimer>

#include <array>

namespace tsy {

namespace {
// Window layout in pixels (design units are twips, 15 to the pixel).
constexpr QSize kClient(373, 92);
constexpr QRect kImage(8, 16, 32, 32);
constexpr QRect kLabel(56, 8, 273, 41);
constexpr QRect kBar(48, 56, 289, 17);
constexpr int kTickMs = 10;

// A progress bar that draws each of its values once and then shows the
// picture again. The bar cycles through the same hundred values for as
// long as a wait lasts, and the style's drawing of one costs far more than
// putting a finished picture on the screen. Any change of look (style,
// palette, size, enabled state, screen scale) draws afresh.
class CycleBar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;

protected:
    void paintEvent(QPaintEvent*) override {
        const int v = value() - minimum();
        if (v < 0 || v >= int(m_pictures.size()) ||
            maximum() - minimum() >= int(m_pictures.size())) {
            setAttribute(Qt::WA_OpaquePaintEvent, false);
            QPainter p(this);
            drawInto(p);
            return;
        }
        const qreal dpr = devicePixelRatioF();
        if (dpr != m_dpr) {
            m_dpr = dpr;
            forget();
        }
        QPixmap& pm = m_pictures[size_t(v)];
        if (pm.isNull()) {
            pm = QPixmap(size() * dpr);
            pm.setDevicePixelRatio(dpr);
            // Drawn over the window's own plain background, the picture
            // blends its soft edges exactly as drawing on the window does;
            // over transparency they would round differently.
            const QWidget* under = parentWidget() ? parentWidget() : this;
            const QBrush bg = under->palette().brush(under->backgroundRole());
            const bool opaque = bg.style() == Qt::SolidPattern && bg.isOpaque();
            pm.fill(opaque ? bg.color() : QColor(Qt::transparent));
            QPainter p(&pm);
            drawInto(p);
            // A picture on a plain background covers the whole bar: what
            // lies under the bar need not be painted first.
            setAttribute(Qt::WA_OpaquePaintEvent, opaque);
        }
        QPainter(this).drawPixmap(0, 0, pm);
    }
    void changeEvent(QEvent* e) override {
        // The window's activation changes at every show; it changes the
        // look only where the palette's active and inactive colours differ.
        if (e->type() != QEvent::ActivationChange ||
            !palette().isEqual(QPalette::Active, QPalette::Inactive))
            forget();
        QProgressBar::changeEvent(e);
    }
    void resizeEvent(QResizeEvent* e) override {
        // Each show of the window resends the bar's size, unchanged.
        if (e->size() != e->oldSize())
            forget();
        QProgressBar::resizeEvent(e);
    }

private:
    void drawInto(QPainter& p) {
        QStyleOptionProgressBar opt;
        initStyleOption(&opt);
        style()->drawControl(QStyle::CE_ProgressBar, &opt, &p, this);
    }
    void forget() {
        for (QPixmap& pm : m_pictures)
            pm = QPixmap();
    }

    std::array<QPixmap, 101> m_pictures;
    qreal m_dpr = 0;
};
} // namespace

frmProgress::frmProgress(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(QStringLiteral("Working...please wait..."));
    setWindowIcon(app_icon());
    setFixedSize(kClient);
    // It tells, it takes no input: showing it must not take the keyboard
    // focus away from the main window.
    setAttribute(Qt::WA_ShowWithoutActivating);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(kImage);
    Image1->setPixmap(app_icon().pixmap(32, 32));

    m_message = QStringLiteral("Working...");
    progressLbl = new QLabel(m_message, this);
    progressLbl->setObjectName(QStringLiteral("progressLbl"));
    progressLbl->setGeometry(kLabel);
    progressLbl->setWordWrap(true);
    progressLbl->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont f(QStringLiteral("Arial"));
    f.setPointSizeF(8.25);
    progressLbl->setFont(f);
    QPalette pal = progressLbl->palette();
    pal.setColor(QPalette::WindowText, pal.color(QPalette::Highlight));
    progressLbl->setPalette(pal);

    progressBar = new CycleBar(this);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setGeometry(kBar);
    progressBar->setTextVisible(false);

    progressTimer = new QTimer(this);
    progressTimer->setObjectName(QStringLiteral("progressTimer"));
    progressTimer->setInterval(kTickMs);
    connect(progressTimer, &QTimer::timeout, this, &frmProgress::progressTimer_Timer);

    Form_Load();

    // Centred on the screen: the window has no owner.
    if (const QScreen* s = QGuiApplication::primaryScreen()) {
        const QRect avail = s->availableGeometry();
        move(avail.center() - QPoint(kClient.width() / 2, kClient.height() / 2));
    }
}

void frmProgress::Form_Load() {
    progressBar->setMinimum(0);
    progressBar->setMaximum(100);
    progressBar->setValue(0);
    m_counter = 0;
}

void frmProgress::progressTimer_Timer() {
    m_counter = qint16((m_counter + 1) % 100);
    // The counter steps every tick; a shown bar is moved to it every
    // kBarStep ticks. (QProgressBar paces its own repaints by the style's chunk
    // width, and CycleBar paints in its place.)
    if (!isVisible() || !m_barMoved || m_counter % kBarStep == 0) {
        progressBar->setValue(m_counter);
        m_barMoved = true;
    }
    if (m_messagePending)
        showMessage();
}

void frmProgress::showMessage() {
    progressLbl->setText(m_message);
    m_messagePending = false;
    m_sinceShown.start();
}

void frmProgress::closeEvent(QCloseEvent* e) {
    // Only the operator's close box is a question; the program's own
    // closes (shutdown, closing all windows) go through.
    if (m_closeAllowed || !isVisible() || !e->spontaneous()) {
        QWidget::closeEvent(e);
        return;
    }
    e->ignore();
    emit closeRequested();
}

void frmProgress::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        emit closeRequested();
        return;
    }
    QWidget::keyPressEvent(e);
}

void frmProgress::start_progress(const QString& msg) {
    if (!msg.isEmpty())
        m_message = msg;
    showMessage();
    show();
    progressTimer->start();
    progressTimer->setInterval(kTickMs);
    m_barMoved = false; // the first tick after a start moves the bar
}

void frmProgress::stop_progress() {
    if (m_messagePending)
        showMessage();
    hide();
    progressTimer->stop();
    progressTimer->setInterval(0);
    progressBar->setValue(0);
}

void frmProgress::set_msg(const QString& msg) {
    m_message = msg;
    if (!isVisible() || !m_sinceShown.isValid() || m_sinceShown.elapsed() >= kMessageIntervalMs)
        showMessage();
    else
        m_messagePending = true;
}

ProgressWindow::ProgressWindow(QObject* parent) : QObject(parent) {}

ProgressWindow::~ProgressWindow() {
    delete m_window.data();
}

frmProgress* ProgressWindow::made() {
    if (m_shutdown)
        return nullptr;
    if (!m_window) {
        m_window = new frmProgress();
        connect(m_window, &frmProgress::closeRequested, this, &ProgressWindow::closeRequested);
    }
    return m_window;
}

void ProgressWindow::start_progress(const QString& msg) {
    if (frmProgress* w = made())
        w->start_progress(msg);
}

void ProgressWindow::stop_progress() {
    if (frmProgress* w = made())
        w->stop_progress();
}

void ProgressWindow::set_msg(const QString& msg) {
    if (frmProgress* w = made())
        w->set_msg(msg);
}

void ProgressWindow::shutdown() {
    m_shutdown = true;
    if (frmProgress* w = m_window.data()) {
        w->allowClose();
        w->close();
        delete w;
    }
}

} // namespace tsy
