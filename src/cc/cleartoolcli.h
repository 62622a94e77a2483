// SPDX-License-Identifier: Apache-2.0
#pragma once

// ClearCase over the cleartool program: every request is a `cleartool`
// child process, started with an argument list (never through a shell)
// and driven by its signals. A call that stays silent for the time limit
// is killed; the limit counts from the last byte cleartool printed, so a
// long listing that keeps talking is not cut off by it. A listing has an
// overall time limit of its own, and every answer a size limit.

#include "cc/session.h"
#include "process/result.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>

namespace tsy::cc {

// How long cleartool may stay silent before its call is given up.
constexpr int kCleartoolTimeoutMs = 120'000;
// The most one answer may hold, kept whole, and the most a streamed
// listing may write (its lines are bounded by LsviewStream). Far above any
// real answer: a call past them writes without end, and fails.
constexpr qsizetype kCleartoolAnswerLimit = qsizetype(64) << 20;
constexpr qint64 kCleartoolListingLimit = qint64(4) << 30;
// How long a whole listing may take, however much it talks, unless
// TESSALY_LIST_TIMEOUT says otherwise.
constexpr int kListingTimeLimitS = 3600;

// The listing's time limit in seconds: TESSALY_LIST_TIMEOUT, a whole number
// above 0, else kListingTimeLimitS. Why not when a value set cannot be
// used.
Result<int> listing_time_limit_s();

// The cleartool program a session runs, how long a call of it may stay
// silent (0 or less: kCleartoolTimeoutMs), and how long a whole listing
// may take (0 or less: kListingTimeLimitS).
struct Cleartool {
    QString program;
    int timeoutMs = kCleartoolTimeoutMs;
    int listingLimitMs = kListingTimeLimitS * 1000;
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
    // Ends the call now as one that did not run, with problem as why: a
    // query is killed, and finished() follows.
    void giveUp(const QString& problem);

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
    qint64 m_written = 0; // standard output, all told
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
    explicit CliBackend(int timeoutMs = kCleartoolTimeoutMs,
                        int listingLimitMs = kListingTimeLimitS * 1000)
        : m_timeoutMs(timeoutMs), m_listingLimitMs(listingLimitMs) {}
    std::unique_ptr<Session> createSession(const QString& cchome) override;
    FixProtStyle fixProtStyle() const override { return FixProtStyle::Unix; }
    // CCHOME + "/bin/cleartool".
    static QString cleartoolPath(const QString& cchome);

private:
    int m_timeoutMs;
    int m_listingLimitMs;
};

} // namespace tsy::cc
