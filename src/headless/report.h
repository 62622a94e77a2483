// SPDX-License-Identifier: Apache-2.0
#pragma once

// What a headless run prints: a line per view as it finishes, as text for
// people or as one JSON object per line for scripts, a summary at the end,
// and, when the error output is a terminal, one status line redrawn in
// place. Everything written goes through here, so the status line is
// taken away before any other line and drawn again after it.

#include "repair/fixprot.h"

#include "repair/inspection.h"
#include <QDateTime>
#include <QElapsedTimer>

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <optional>

namespace tsy::headless {

enum class Format { Text, Json };

struct ViewResult {
    enum class Outcome {
        Repaired,
        ServerNotStopped, // fix_prot succeeded, endview failed
        FixProtFailed,
        EndviewFailed, // endview failed after a fix_prot that failed too
        Skipped,
        Planned,
        Sound,            // --check: nothing to repair
        SoundNotRepaired, // --repair --needed: nothing to repair, server left running
        NeedsRepair,      // --check
        NotChecked,       // the inspection could not tell (see reason)
    };
    QString tag;
    QString host; // the storage host, as the listing gives it
    QString storage;
    QStringList command; // fix_prot's words, as started or as they would be
    QStringList endview; // a dry run's endview words
    Outcome outcome = Outcome::Skipped;
    QString reason; // why it failed or was skipped
    std::optional<int> exitStatus;
    bool endviewRan = false;
    bool inspected = false; // found and first hold what the inspection found
    int found = 0;
    bool more = false; // found or more
    QString first;
    QString firstWhy;
    std::vector<repair::Problem> problems;
    QStringList groups; // the identity's additional groups
    QDateTime start;
    qint64 ms = 0;
};

struct Counts {
    int repaired = 0;
    int failed = 0;
    int skipped = 0;
    int planned = 0;
    int sound = 0;
    int needsRepair = 0;
    int notChecked = 0; // --check only; --repair --needed counts those failed
    int running = 0;
    qsizetype waiting = 0; // neither started nor given up
    int done() const {
        return repaired + failed + skipped + planned + sound + needsRepair + notChecked;
    }
};

struct Summary {
    Counts counts;
    qsizetype notStarted = 0;
    qsizetype leftAlone = 0;    // units at work when the run ended, finishing alone
    int unread = 0;             // views the listing could not read
    bool listingFailed = false; // the listing itself could not be had
    QString stoppedBy;          // why views were not started, empty when none was left
    int exitStatus = 0;
};

class Report {
public:
    Report(Format format, bool dryRun, bool statusLine);
    ~Report();

    // How fix_prot reaches other hosts: a dry run shows their commands
    // with it.
    void setReach(const repair::Reach& reach) { m_reach = reach; }
    // A --check run, or a --repair --needed one: the summary counts sound
    // views and, for a check, those that need repair or were not checked.
    void setCheck(bool check, bool needed) {
        m_check = check;
        m_needed = needed;
    }
    // --quiet: 1 prints only the views that did not end well and the
    // summary, 2 not even the summary of a run that ended well.
    void setQuiet(int quiet) { m_quiet = quiet; }
    // What the JSON summary records of the run's options.
    void setOptions(const QJsonObject& options) { m_options = options; }
    // The run stops: the status line says so and no longer guesses the
    // time left.
    void setStopping() { m_stopping = true; }

    void view(const ViewResult& r);
    void summary(const Summary& s);
    // A line to the error output, "tessaly: " first.
    void error(const QString& line);
    // Draws the status line again with these figures (no-op without one).
    void progress(const Counts& c);
    // A line another part of the program writes to the error output as it
    // is, between taking the status line away and drawing it again.
    void passThrough(const QByteArray& bytes);

    // "fix_prot failed: exit status 3", "skipped: ...": the outcome as the
    // text format prints it.
    static QString outcomeText(const ViewResult& r);
    // Repaired, planned or found sound: what --quiet leaves out.
    static bool endedWell(const ViewResult& r);

    // Called once for each output whose write failed.
    void onBrokenOutput(std::function<void()> f) { m_onBroken = std::move(f); }

private:
    bool write(std::FILE* f, bool& broken, const QByteArray& bytes);
    void last(const QByteArray& bytes);
    void out(const QByteArray& bytes);
    void err(const QByteArray& bytes);
    void hideStatus();
    void drawStatus();

    Format m_format;
    repair::Reach m_reach;
    bool m_dryRun;
    bool m_check = false;
    bool m_needed = false;
    int m_quiet = 0;
    bool m_stopping = false;
    QJsonObject m_options;
    QDateTime m_started;
    bool m_statusLine;
    bool m_statusShown = false;
    QByteArray m_status;
    QElapsedTimer m_clock;
    std::function<void()> m_onBroken;
    bool m_outBroken = false;
    bool m_errBroken = false;
};

// One view's line of the JSON report: an object and a line feed.
QByteArray view_json(const ViewResult& r);

// A message for the error output: "tessaly: ", the line, a line feed.
QByteArray error_line(const QString& line);

// "1 view", "2 views": a count and its noun, which takes an s unless the
// count is one.
QString count_of(qsizetype n, const QString& noun);

// Text for a line of its own: line breaks, tabs and other control
// characters become blanks, a CR LF one blank.
QString one_line(const QString& text);

// Appends one view of a listing to out as a JSON object on a line of its
// own: tag, host, line, global_path, active (null when unknown) and
// attributes.
void append_listing_json(QByteArray& out, const QString& tag, const QString& host,
                         const QString& line, const QString& globalPath, std::optional<bool> active,
                         const QStringList& attributes);

// Whether the error output is a terminal, where a status line belongs.
bool error_output_is_terminal();

} // namespace tsy::headless
