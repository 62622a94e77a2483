// SPDX-License-Identifier: Apache-2.0
#pragma once

// ClearCase over the cleartool program: every request is a `cleartool`
// child process, started with an argument list (never through a shell)
// and driven by its signals. A call that stays silent for the time limit
// is killed; the limit counts from the last byte cleartool printed, so a
// long listing that keeps talking is never cut off.

#include "cc/session.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

namespace tsy::cc {

// How long cleartool may stay silent before its call is given up.
constexpr int kCleartoolTimeoutMs = 120'000;

// The cleartool program a session runs, and how long a call of it may
// stay silent (0 or less: kCleartoolTimeoutMs).
struct Cleartool {
    QString program;
    int timeoutMs = kCleartoolTimeoutMs;
};

// One run of the cleartool program.
class CleartoolCall : public QObject {
    Q_OBJECT

public:
    CleartoolCall(const Cleartool& tool, QStringList args, Effect effect,
                  QObject* parent = nullptr);
    ~CleartoolCall() override;

    void start();
    // A query is killed; a change is left to run to its end.
    void abandon();

    const QStringList& arguments() const { return m_args; }
    // Known once finished() was emitted.
    bool ran() const { return m_ran; }            // false: it could not run or was stopped
    QString problem() const { return m_problem; } // why, when it did not run
    int exitCode() const { return m_exitCode; }
    QByteArray takeOutput() { return std::exchange(m_out, {}); }
    // While streaming: the output that arrived since the last dropOutput,
    // and its dropping, which keeps the buffer's room for the next piece.
    QByteArrayView output() const { return m_out; }
    void dropOutput() { m_out.resize(0); }
    const QByteArray& errorOutput() const { return m_err; }

    int timeoutMs() const { return m_timeoutMs; }

signals:
    // Standard output arrived (see takeOutput); only when streaming is on.
    void outputArrived();
    void finished();

public:
    // Hand standard output out as it arrives instead of keeping it whole.
    void setStreaming(bool on) { m_streaming = on; }

private:
    void onOutput();
    void onFinished(int code, QProcess::ExitStatus status);
    void onError(QProcess::ProcessError error);
    void onSilence();
    void end();

    QString m_program;
    int m_timeoutMs;
    QStringList m_args;
    QElapsedTimer m_clock;
    Effect m_effect;
    QProcess* m_process = nullptr;
    QTimer m_silence;
    QByteArray m_out;
    QByteArray m_err;
    QString m_problem;
    int m_exitCode = 0;
    bool m_ran = false;
    bool m_done = false;
    bool m_streaming = false;
    bool m_starting = false;
};

// cleartool's error text of a finished call, or why it did not run. Empty
// for a call that succeeded.
QString call_failure(const CleartoolCall& call);

class CliBackend : public Backend {
public:
    // timeoutMs: how long each cleartool call may stay silent (0 or less:
    // kCleartoolTimeoutMs).
    explicit CliBackend(int timeoutMs = kCleartoolTimeoutMs) : m_timeoutMs(timeoutMs) {}
    std::unique_ptr<Session> createSession(const QString& cchome) override;
    FixProtStyle fixProtStyle() const override { return FixProtStyle::Unix; }
    // CCHOME + "/bin/cleartool".
    static QString cleartoolPath(const QString& cchome);

private:
    int m_timeoutMs;
};

} // namespace tsy::cc
