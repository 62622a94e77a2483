#pragma once

#include <QElapsedTimer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QTimer;

namespace tsy {

// The modeless "Working...please wait..." window with a message line and a
// bar that cycles on its own. There is one, made on its earliest use,
// hidden between uses and closed at shutdown.
class frmProgress : public QWidget {
    Q_OBJECT

public:
    explicit frmProgress(QWidget* parent = nullptr);

    void start_progress(const QString& msg);
    void stop_progress();
    void set_msg(const QString& msg);

    QLabel* Image1 = nullptr;
    QLabel* progressLbl = nullptr;
    QProgressBar* progressBar = nullptr;
    QTimer* progressTimer = nullptr;

    qint16 counter() const { return m_counter; }

    // The message last set. The label shows it at once, except that while
    // the window is shown it changes at most once per kMessageIntervalMs:
    // a load that names tens of thousands of views must not spend its time
    // repainting a text nobody can read. Ticks and stop_progress catch up.
    QString message() const { return m_message; }
    static constexpr int kMessageIntervalMs = 16;
    // The shortest time between two moves of a shown bar: twenty frames a
    // second animate a bar that only says "busy", at two thirds of the
    // drawing that thirty would cost.
    static constexpr int kBarFrameMs = 50;

    // One tick of the timer: the bar shows 1, 2, ..., 99, 0, 1, ...
    void progressTimer_Timer();

signals:
    // The operator asked to close the shown window (its close box, or
    // Esc). It stays up: the operation under way decides what that means.
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

public:
    // Lets the next close go through: the program closes the window.
    void allowClose() { m_closeAllowed = true; }

private:
    void Form_Load();
    void showMessage();

    qint16 m_counter = 0;
    QString m_message;
    bool m_messagePending = false;
    QElapsedTimer m_sinceShown;
    QElapsedTimer m_sinceBarMoved;
    bool m_closeAllowed = false;
};

// The one progress window, made when first asked for.
frmProgress& progress_window();
bool progress_window_exists();
// Closes and destroys it; the next use makes a new one.
void close_progress_window();
// Closes it for good at shutdown: later calls of the operations below do
// nothing, so no window is made again while the program ends.
void shutdown_progress_window();
// Lets the operations make the window again (a new main window).
void allow_progress_window();

void start_progress(const QString& msg);
void stop_progress();
void set_msg(const QString& msg);

} // namespace tsy
