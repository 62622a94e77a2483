#include "frmprogress.h"

#include "common/artwork.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>

namespace tsy {

namespace {
// Window layout in pixels (design units are twips, 15 to the pixel).
constexpr QSize kClient(373, 92);
constexpr QRect kImage(8, 16, 32, 32);
constexpr QRect kLabel(56, 8, 273, 41);
constexpr QRect kBar(48, 56, 289, 17);
constexpr int kTickMs = 10;

bool g_shutdown = false;

QPointer<frmProgress>& instance() {
    static QPointer<frmProgress> w;
    return w;
}
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

    progressBar = new QProgressBar(this);
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
    progressBar->setValue(m_counter);
    if (m_messagePending)
        showMessage();
}

void frmProgress::showMessage() {
    progressLbl->setText(m_message);
    m_messagePending = false;
    m_sinceShown.start();
}

void frmProgress::start_progress(const QString& msg) {
    if (!msg.isEmpty())
        m_message = msg;
    showMessage();
    show();
    progressTimer->start();
    progressTimer->setInterval(kTickMs);
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

frmProgress& progress_window() {
    if (!instance())
        instance() = new frmProgress();
    return *instance();
}

bool progress_window_exists() {
    return !instance().isNull();
}

void close_progress_window() {
    if (frmProgress* w = instance().data()) {
        w->close();
        delete w;
    }
}

void shutdown_progress_window() {
    g_shutdown = true;
    close_progress_window();
}

void allow_progress_window() {
    g_shutdown = false;
}

void start_progress(const QString& msg) {
    if (!g_shutdown)
        progress_window().start_progress(msg);
}

void stop_progress() {
    if (!g_shutdown)
        progress_window().stop_progress();
}

void set_msg(const QString& msg) {
    if (!g_shutdown)
        progress_window().set_msg(msg);
}

} // namespace tsy
