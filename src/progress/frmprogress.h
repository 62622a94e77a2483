// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "progress/progresssink.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QTimer;

namespace tsy {

// The modeless "Working...please wait..." window with a message line and a
// bar that cycles on its own.
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
    // A shown bar moves on the first tick after a start, then at every
    // counter value that is a multiple of this: ten steps a second, as a
    // busy bar moves in blocks, and ten pictures of the bar to draw, each
    // once. Moving by time drew most of the hundred values in the first
    // seconds of a wait, and each frame costs a wake-up's worth of drawing.
    static constexpr int kBarStep = 10;

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
    bool m_barMoved = false; // since the last start
    bool m_closeAllowed = false;
};

// A main window's progress: its frmProgress, made on the first use, hidden
// between uses and destroyed with this object.
class ProgressWindow : public QObject, public ProgressSink {
    Q_OBJECT

public:
    explicit ProgressWindow(QObject* parent = nullptr);
    ~ProgressWindow() override;

    void start_progress(const QString& msg) override;
    void stop_progress() override;
    void set_msg(const QString& msg) override;

    // The window, or null before its first use and after shutdown().
    frmProgress* window() const { return m_window.data(); }

    // Closes and destroys the window for good, as the main window closes:
    // the operations above do nothing from then on, so nothing makes the
    // window again while the program ends.
    void shutdown();

signals:
    // The operator asked to close the shown window (its close box, or Esc).
    void closeRequested();

private:
    // The window, made if it is not there yet; null after shutdown().
    frmProgress* made();

    QPointer<frmProgress> m_window;
    bool m_shutdown = false;
};

} // namespace tsy
