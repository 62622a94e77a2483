// SPDX-License-Identifier: Apache-2.0
#pragma once

// The figures, one function each. Each prints its rows (harness.h) and
// returns normally; a crash is what scripts/bench.sh reports as a failure.

#include "fakecc.h"
#include "temphome.h"

#include <ccsim.h>

#include "app/frmmain.h"

#include <memory>
#include <utility>

namespace tsy::bench {

void figure_load();          // 1. loading through the fake backend, beside the linear scan
void figure_cli();           // 2. the same through the simulator's cleartool
void figure_wait();          // 3. CPU share while waiting on fix_prot
void figure_run();           // 4. the run's own overhead per view
void figure_list();          // 5. filter, Select All by pattern and Find on 100,000 lines
void figure_startup();       // 6. start-up to the main window shown
void figure_startup_child(); //    one start-up, in a process of its own
void figure_memory();        // 7. peak resident memory with 100,000 views
void figure_stall();
void figure_headless(); // 9. --list and --repair as processes, beside their own work
void figure_hosts(); // 10. --repair --jobs over storage hosts: wall time, own CPU, an unreachable
                     // host
void figure_check(); // 11. --check --jobs over storage hosts; one storage's inspection beside find
void figure_night(); // 12. a site's night: --check and --repair --needed over 200 hosts
// The programs a UNIX repair starts for each view (lookup, facts, fix_prot
// through the remote shell, endview), started directly one after another;
// batched: the lookups as a headless run makes them, one query of long
// records for each batch of a host's views; locked: fix_prot with the
// storage lock on its host taken around it, as the repair unit runs it.
void direct_starts(const ccsim::Home& home, const std::vector<ccsim::View>& views, bool batched,
                   bool locked);
// What the repair unit adds to a program started through it, per start, and
// one start of /bin/true: n of each.
std::pair<double, double> unit_cost_ms(int n);

// A main window over the in-process fake ClearCase, loaded and shown
// (offscreen) as start-up leaves it.
struct FakeMain {
    FakeMain();
    ~FakeMain();
    test::TempHome home;
    std::shared_ptr<test::FakeBackend> backend;
    std::unique_ptr<frmMain> w;
};

// Lets the window system deliver what is pending (shows, exposes, paints).
void settle();

} // namespace tsy::bench
