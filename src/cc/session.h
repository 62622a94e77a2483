// SPDX-License-Identifier: Apache-2.0
#pragma once

// ClearCase as the rest of the program talks to it: asynchronous requests
// that report through signals, so that no caller ever waits on a child
// process. A Session answers for one installation; a Backend makes
// sessions. The cleartool command-line backend runs every request as a
// child process driven by its signals. Backends whose calls are in-process
// and synchronous (the COM library on Windows, the fake of the tests) are
// served through SyncBackend, which runs each call on a later turn of the
// event loop and one listed view per turn, and turns the Failure a call
// throws into the job's error.

#include "cc/ccauto.h"
#include "cc/fixprotstyle.h"
#include "cc/lsviewparse.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

namespace tsy::cc {

// Whether a request only reads ClearCase (and may be killed when nobody
// waits for it any more) or changes it (and is always left to finish).
enum class Effect { Query, Change };

// One request. It finishes exactly once, on a later turn of the event loop
// than the one that made it, and is then left to its owner to delete.
class Job : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    bool isDone() const { return m_done; }
    bool succeeded() const { return m_done && !m_failed; }
    // ClearCase's own error text, or why the request could not be made.
    const QString& error() const { return m_error; }

    // Nobody waits for the answer any more: a query stops at once and
    // never reports; a change runs to its end unobserved.
    virtual void abandon() = 0;

signals:
    void finished();

protected:
    void succeed();
    void fail(const QString& error);

private:
    bool m_done = false;
    bool m_failed = false;
    QString m_error;
};

// A cleartool command; its output is what cleartool printed.
class CommandJob : public Job {
    Q_OBJECT

public:
    using Job::Job;
    const QString& output() const { return m_output; }

protected:
    void setOutput(QString output) { m_output = std::move(output); }

private:
    QString m_output;
};

// What the detail report shows of one view.
struct ViewDetails {
    bool active = false;
    bool snapshot = false;
    bool ucm = false;
    QString host;
    QString configSpec;
};

class DetailsJob : public Job {
    Q_OBJECT

public:
    using Job::Job;
    const ViewDetails& details() const { return m_details; }
    // The view itself was found, even when reading its details failed.
    bool viewFound() const { return m_found; }

protected:
    void setDetails(ViewDetails d) { m_details = std::move(d); }
    void setViewFound() { m_found = true; }

private:
    ViewDetails m_details;
    bool m_found = false;
};

// How a listing went, known once it has finished.
struct ListingReport {
    int total = 0;      // views the listing held, read or not
    int unreadable = 0; // of those, views that could not be read
    // Names of the unread views where ClearCase gave them, or else where
    // the short listing knows tags the long one lost, as printable text
    // (printable_name).
    QStringList unreadNames;
    QString lastFailure;       // the description of the latest failure
    QStringList errors;        // every failure's description once, in the order met
    bool failedBefore = false; // the listing itself could not be had
    QStringList warnings;      // cleartool's warnings, not failures
    QString sideFailure;       // a failure that lost no view (the short listing)
    bool cut = false;          // the listing was cut short: the views after the cut are lost
};

// What the operator is told of a listing: the failure, how many views could
// not be read and their names (20 at most). Empty when all went well.
QString report_text(const ListingReport& report);

// Every view of the region, reported one by one as they are read.
class ListingJob : public Job {
    Q_OBJECT

public:
    using Job::Job;
    const ListingReport& report() const { return m_report; }
    // Asked before the first view comes: each readable view's record is
    // also given, by recordListed, with its tag, server host, global path,
    // whether it is active and its attributes. Backends without records
    // give none.
    virtual void giveRecords() {}

signals:
    // One readable view.
    void viewListed(const QString& tag, const QString& host);
    // The record of one readable view, just before its viewListed.
    void recordListed(const tsy::cc::LsviewRecord& record);
    // A view could not be read; the listing goes on.
    void viewUnreadable(const QString& description);

protected:
    // A failure met: it is the latest, and is kept once among the errors.
    void noteFailure(const QString& description);
    // A failure that lost no view: the side failure, kept once likewise.
    void noteSideFailure(const QString& description);

    ListingReport m_report;

private:
    QSet<QString> m_errorsSeen;
};

class Session {
public:
    virtual ~Session() = default;

    virtual ListingJob* listViews(QObject* parent) = 0;
    // A cleartool command given as its words, e.g. {"lsview", TAG}.
    virtual CommandJob* command(const QStringList& words, Effect effect, QObject* parent) = 0;
    virtual DetailsJob* details(const QString& tag, QObject* parent) = 0;
    // How this ClearCase wants fix_prot run.
    virtual FixProtStyle fixProtStyle() const = 0;
    // The cleartool program a repair unit runs endview with, outside this
    // program; empty where only the session can stop a view's server.
    virtual QString cleartoolProgram() const { return QString(); }
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual std::unique_ptr<Session> createSession(const QString& cchome) = 0;
    // cleartool on POSIX speaks to UNIX ClearCase; the automation library
    // exists only with Windows ClearCase.
    virtual FixProtStyle fixProtStyle() const = 0;
};

// A backend of synchronous automation objects: the application object is
// made on the first request that needs it, the ClearTool object likewise,
// and both live as long as the session.
class SyncBackend : public Backend {
public:
    virtual std::unique_ptr<Application> createApplication(const QString& cchome) = 0;
    virtual std::unique_ptr<ClearTool> createClearTool(const QString& cchome) = 0;
    std::unique_ptr<Session> createSession(const QString& cchome) override;
    FixProtStyle fixProtStyle() const override { return FixProtStyle::Windows; }
};

// The platform's own backend: cleartool on POSIX, COM on Windows.
std::shared_ptr<Backend> default_backend();

} // namespace tsy::cc
