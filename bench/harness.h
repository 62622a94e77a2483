// SPDX-License-Identifier: Apache-2.0
#pragma once

// What every benchmark shares: timing loops that keep the median of several
// runs, the process's own CPU time and memory, and the rows the driver
// prints for scripts/bench.sh to lay out as one table.

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <string>
#include <vector>

namespace tsy {
class frmMain;
}

namespace tsy::bench {

// Whether this is the quick run that CI makes: one pass at small sizes.
bool smoke();
void set_smoke(bool on);

// Runs each of reps times; each call returns the milliseconds it measured
// (so that it can leave its own set-up out). Returns the median.
double median_ms(int reps, const std::function<double()>& once);
double median_of(std::vector<double> values);

// Milliseconds since the timer was started, with sub-millisecond precision.
inline double ms_since(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// CPU time of this process alone (user + system), in milliseconds.
double self_cpu_ms();

// A field of /proc/self/status ("VmHWM", "VmRSS") in MiB; -1 if absent.
double proc_status_mib(const char* field);

// One line of the table: figure | value | target | ratio | met.
// met: 1 met, 0 missed, -1 no target.
void row(const QString& figure, const QString& value, const QString& target, const QString& ratio,
         int met);
// A remark printed under the table.
void note(const QString& text);

QString fmt_ms(double ms);          // "12.3 ms" or "1.23 s"
QString fmt_num(double v, int dec); // fixed decimals
QString fmt_count(int n);           // "32,767"

// Points CLEARCASEHOME at a home for as long as it lives.
struct UseHome {
    explicit UseHome(const std::string& dir) : saved(qgetenv("CLEARCASEHOME")) {
        qputenv("CLEARCASEHOME", QByteArray::fromStdString(dir));
    }
    ~UseHome() { qputenv("CLEARCASEHOME", saved); }
    QByteArray saved;
};

// Lets the window's load, run or report end, however long a loaded machine
// makes it take: a figure read from a run that is still going is wrong, so
// a run that has not ended after half an hour stops the benchmark.
void settle_window(frmMain& w);

// Every message box answered without a window: Yes/No boxes get `No`,
// others `Ok`. Boxes nobody expected are counted and shown as notes.
void install_quiet_boxes();
int unexpected_boxes();

} // namespace tsy::bench
