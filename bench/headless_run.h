// SPDX-License-Identifier: Apache-2.0
#pragma once

// Runs of the headless program as a process of its own, and what they
// left: its own CPU time and memory apart from its children's, its JSON
// lines, and what the simulator's journal says of the fix_prots it ran.

#include <ccsim.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tsy::bench {

struct Run {
    double wallMs = 0;
    double cpuMs = -1;      // Tessaly's own user + system time; -1 if it could not be read
    double childCpuMs = -1; // user + system time of the descendants it waited for; -1 unread
    double hwmMib = -1;     // highest VmHWM of its own seen while it ran (polled); -1 unread
    double maxRssMib = -1;  // wait4's ru_maxrss: its own peak or a waited-for descendant's
    int status = -1;        // exit status, -1 if it was killed or never started
    QByteArray out, err;
};

// Runs tessaly with args and waits for it, its output going to files in
// dir (out, err).
Run run_tessaly(const QStringList& args, const QString& dir);

// One finished view of --format json.
struct Record {
    QString tag, host, outcome, reason;
    std::optional<double> startS; // seconds since the epoch
    double durationS = 0;
};

struct Report {
    std::vector<Record> views;
    bool summary = false;
    int badLines = 0; // lines that are not a JSON object
};

Report parse_report(const QByteArray& out);
int count_outcome(const Report& rep, const QString& outcome);

// What the simulator saw of a run: each fix_prot from its start to its
// end, by the host of the view it was given, and the ordering faults.
struct Overlaps {
    int maxPerHost = 0;      // most fix_prots at work on one host at once
    int maxAtOnce = 0;       // most fix_prots at work at once, all hosts
    int unended = 0;         // fix_prots without an end record
    int endviewTooEarly = 0; // endviews that started before their fix_prot ended
    int fixProts = 0;
    // The busiest host by fix_prot time: the sum of its fix_prots'
    // durations, as if run one after another.
    double busiestHostMs = 0;
    std::string busiestHost;
};

// Most intervals open at once; an interval ending when another starts
// does not overlap it.
int most_at_once(std::vector<std::pair<std::int64_t, std::int64_t>> spans);

Overlaps overlaps(const ccsim::Home& home);

} // namespace tsy::bench
