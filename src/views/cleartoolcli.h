#pragma once

// The automation objects over the cleartool program: every question is a
// `cleartool` child process, started with an argument list (never through
// a shell) and given a generous time limit so that a hung cleartool
// cannot freeze the program for good.

#include "ccauto.h"
#include "lsviewparse.h"

#include <QByteArray>
#include <QStringList>

namespace tsy::cc {

// How long one cleartool call may take before it is killed.
constexpr int kCleartoolTimeoutMs = 120'000;

// Runs one cleartool program.
class CleartoolRunner {
public:
    explicit CleartoolRunner(QString program) : m_program(std::move(program)) {}

    const QString& program() const { return m_program; }

    struct Result {
        QByteArray out;
        QString error; // cleartool's stderr, trimmed
        int exitCode = 0;
    };
    // Runs `cleartool args...` and returns whatever it said. Throws Failure
    // only when it could not be run, crashed or did not answer in time.
    Result runAll(const QStringList& args) const;

    // The standard output of `cleartool args...`. Throws Failure whose
    // description is cleartool's error text when it exits non-zero, or
    // says why it could not be run or did not answer in time.
    QByteArray run(const QStringList& args) const;

    // Tests shorten the limit; 0 or less restores kCleartoolTimeoutMs.
    static void setTimeoutMs(int ms);
    static int timeoutMs();

private:
    QString m_program;
};

// The words of a command text as cleartool gets them. The view-tag
// commands the program sends ("lsview TAG", "endview -server TAG",
// "catcs -tag TAG") keep everything after their fixed words as one tag,
// blanks and quotes included; anything else is split with the usual
// quoting rules.
QStringList split_cleartool_command(const QString& command);

class CliBackend : public Backend {
public:
    std::unique_ptr<Application> createApplication(const QString& cchome) override;
    std::unique_ptr<ClearTool> createClearTool(const QString& cchome) override;

    // CCHOME + "/bin/cleartool".
    static QString cleartoolPath(const QString& cchome);
};

// A view object read from one `lsview -long` record.
class CliView : public View {
public:
    CliView(LsviewRecord record, CleartoolRunner runner)
        : m_record(std::move(record)), m_runner(std::move(runner)) {}

    QString tagName() override;
    QString host() override;
    bool isActive() override;
    bool isSnapShot() override;
    bool isUCMView() override;
    QString configSpec() override;

    const LsviewRecord& record() const { return m_record; }

private:
    void requireReadable() const;

    LsviewRecord m_record;
    CleartoolRunner m_runner;
};

class CliViewCollection : public ViewCollection {
public:
    CliViewCollection(QList<LsviewRecord> records, CleartoolRunner runner)
        : m_records(std::move(records)), m_runner(std::move(runner)) {}
    int count() override { return int(m_records.size()); }
    std::unique_ptr<View> item(int index) override;

private:
    QList<LsviewRecord> m_records;
    CleartoolRunner m_runner;
};

class CliApplication : public Application {
public:
    explicit CliApplication(CleartoolRunner runner) : m_runner(std::move(runner)) {}
    std::unique_ptr<ViewCollection> views(bool flag, const QString& region) override;
    std::unique_ptr<View> view(const QString& tag) override;

private:
    CleartoolRunner m_runner;
};

class CliClearTool : public ClearTool {
public:
    explicit CliClearTool(CleartoolRunner runner) : m_runner(std::move(runner)) {}
    QString cmdExec(const QString& command) override;

private:
    CleartoolRunner m_runner;
};

} // namespace tsy::cc
