// SPDX-License-Identifier: Apache-2.0
// Figure 12: a site's night. Many views spread over 200 simulated storage
// hosts, a fifth of their storages broken, first checked (--check --all)
// and then repaired where needed (--repair --needed --all), both at
// --jobs 200. For each run: Tessaly's own CPU per view and its peak
// memory, apart from everything it starts; the wall time beside the floor
// this machine sets; and, for the repair, whether two fix_prots ever
// overlapped on one host and whether each endview came after its view's
// fix_prot.
//
// The floor is the larger of the hosts' own time (the busiest host's
// fix_prots one after another, from the simulator's journal and end
// records) and the CPU time of Tessaly's descendants (the repair units and
// the simulator's programs) spread over every core. The simulator's
// fix_prot takes no extra time, so on a small machine the floor is the
// descendants' CPU.
//
// The full run makes 4,000 views, 20 a host on average: on 2 cores the
// simulator's processes cost about 0.1 s of CPU a view, so 10,000 views
// would take over ten minutes a run. TESSALY_NIGHT_VIEWS and
// TESSALY_NIGHT_HOSTS change the size for a bigger machine.
#include "figures.h"
#include "harness.h"
#include "headless_run.h"
#include "simhome.h"

#include <QFile>
#include <QTemporaryDir>

#include <sched.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace tsy::bench {

namespace {

int env_count(const char* name, int fallback) {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue(name, &ok);
    return ok && n > 0 ? n : fallback;
}

int cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return 1;
}

// The first figure of /proc/loadavg: how busy the machine was, since
// other work shares it.
QString load_average() {
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(f.readAll().split(' ').value(0));
}

// The simulator's calls of a run, by program, in journal order of first
// appearance.
std::vector<std::pair<std::string, int>> calls_by_program(const ccsim::Home& home) {
    std::vector<std::pair<std::string, int>> out;
    for (const ccsim::JournalEntry& e : home.journal()) {
        auto it = std::find_if(out.begin(), out.end(),
                               [&](const auto& p) { return p.first == e.program; });
        if (it == out.end())
            out.emplace_back(e.program, 1);
        else
            ++it->second;
    }
    return out;
}

struct Site {
    int views = 0;
    int hosts = 0;
    int jobs = 0;
    int broken = 0; // storages generated broken
    int cores = 1;
    QString size() const {
        return QStringLiteral("%1 views on %2 hosts").arg(fmt_count(views)).arg(hosts);
    }
};

// Prints one run's rows and notes.
void report_run(const Site& site, const QString& what, const Run& r, const Report& rep,
                const ccsim::Home& home, bool repair, const QString& load) {
    const Overlaps ov = overlaps(home);
    const int sound = count_outcome(rep, QStringLiteral("sound"));
    const int needs = count_outcome(rep, QStringLiteral("needs_repair"));
    const int repaired = count_outcome(rep, QStringLiteral("repaired"));
    const int wantSound = site.views - site.broken;
    // A check finds the broken ones and exits 1 (some need repair); a
    // repair of them all exits 0.
    const bool asPlanned =
        rep.badLines == 0 && rep.summary && sound == wantSound &&
        (repair ? repaired == site.broken && r.status == 0 && ov.fixProts == site.broken
                : needs == site.broken && r.status == 1 && ov.fixProts == 0);
    if (!asPlanned)
        note(QStringLiteral("12: WARNING: %1 ended with status %2: %3 sound (of %4), %5 needing "
                            "repair, %6 repaired (of %7), %8 fix_prots, %9 JSON lines not JSON%10; "
                            "its stderr: %11")
                 .arg(what)
                 .arg(r.status)
                 .arg(sound)
                 .arg(wantSound)
                 .arg(needs)
                 .arg(repaired)
                 .arg(site.broken)
                 .arg(ov.fixProts)
                 .arg(rep.badLines)
                 .arg(rep.summary ? QString() : QStringLiteral(", no summary line"))
                 .arg(QString::fromLocal8Bit(r.err.left(400)).simplified()));

    const QString head = QStringLiteral("12. %1, %2").arg(what, site.size());
    const bool read = r.cpuMs >= 0 && r.childCpuMs >= 0;
    const double perView = r.cpuMs / site.views;
    row(head + QStringLiteral(": Tessaly's own CPU a view"),
        read ? fmt_ms(perView) : QStringLiteral("unread"), QStringLiteral("<= 0.5 ms"),
        QStringLiteral("%1 CPU of its own in %2; its descendants' %3 (%4 a view, %5x its own)")
            .arg(fmt_ms(r.cpuMs), fmt_ms(r.wallMs), fmt_ms(r.childCpuMs),
                 fmt_ms(r.childCpuMs / site.views), fmt_num(r.childCpuMs / r.cpuMs, 0)),
        read && asPlanned && perView <= 0.5);

    // The polled high-water mark is its own (the kernel keeps it; only the
    // last 100 ms may go unseen). wait4's is the highest of Tessaly and
    // every descendant it waited for, the simulator's programs among them,
    // whose registry of 10,000 views outweighs Tessaly: shown, not judged.
    const double peak = r.hwmMib;
    row(head + QStringLiteral(": Tessaly's peak resident memory"),
        r.hwmMib >= 0 ? fmt_num(r.hwmMib, 1) + QStringLiteral(" MiB") : QStringLiteral("unread"),
        QStringLiteral("<= 64 MiB"),
        QStringLiteral("VmHWM polled every 100 ms; wait4 ru_maxrss %1 MiB (its own or a "
                       "waited-for descendant's, whichever is higher; not judged)")
            .arg(fmt_num(r.maxRssMib, 1)),
        r.hwmMib >= 0 && asPlanned && peak <= 64);

    const double cpuFloorMs = r.childCpuMs / site.cores;
    const double floorMs = std::max(ov.busiestHostMs, cpuFloorMs);
    const QString hostPart =
        repair ? QStringLiteral("busiest host %1: %2 of fix_prot")
                     .arg(QString::fromStdString(ov.busiestHost), fmt_ms(ov.busiestHostMs))
               : QStringLiteral("no fix_prot");
    row(head + QStringLiteral(": wall time beside this machine's floor"), fmt_ms(r.wallMs),
        QStringLiteral("<= 1.15x floor %1").arg(fmt_ms(floorMs)),
        QStringLiteral("%1x; floor: the larger of %2 and descendants' CPU / %3 cores %4; load "
                       "average %5 at the start")
            .arg(fmt_num(r.wallMs / floorMs, 2), hostPart)
            .arg(site.cores)
            .arg(fmt_ms(cpuFloorMs), load),
        read && asPlanned && floorMs > 0 && r.wallMs <= 1.15 * floorMs);

    if (repair) {
        row(head + QStringLiteral(": fix_prots at work on one host at once"),
            QString::number(ov.maxPerHost), QStringLiteral("<= 1"),
            QStringLiteral("%1 fix_prots, %2 at once on all hosts, %3 without an end record")
                .arg(ov.fixProts)
                .arg(ov.maxAtOnce)
                .arg(ov.unended),
            ov.fixProts == site.broken && ov.unended == 0 && ov.maxPerHost <= 1);
        row(head + QStringLiteral(": endviews started before their view's fix_prot ended"),
            QString::number(ov.endviewTooEarly), QStringLiteral("0"),
            QStringLiteral("of %1 views repaired").arg(repaired),
            ov.fixProts == site.broken && ov.unended == 0 && ov.endviewTooEarly == 0);
    }

    // Where the time goes: Tessaly's own CPU beside its descendants', and
    // the simulator's calls that make up the latter.
    QStringList calls;
    for (const auto& [program, n] : calls_by_program(home))
        calls << QStringLiteral("%1 %2 (%3 a view)")
                     .arg(QString::fromStdString(program))
                     .arg(fmt_count(n))
                     .arg(fmt_num(double(n) / site.views, 2));
    const double total = r.cpuMs + r.childCpuMs;
    note(QStringLiteral("12: %1: of %2 CPU in all, Tessaly's own %3 % (%4 a view), its "
                        "descendants' %5 % (%6 a view: repair units, shells and the simulator's "
                        "programs); the simulator's journal: %7")
             .arg(what, fmt_ms(total), fmt_num(100.0 * r.cpuMs / total, 1), fmt_ms(perView),
                  fmt_num(100.0 * r.childCpuMs / total, 1), fmt_ms(r.childCpuMs / site.views),
                  calls.join(QStringLiteral(", "))));
}

} // namespace

void figure_night() {
    Site site;
    site.views = env_count("TESSALY_NIGHT_VIEWS", smoke() ? 100 : 4000);
    site.hosts = env_count("TESSALY_NIGHT_HOSTS", smoke() ? 10 : 200);
    site.jobs = site.hosts;
    site.cores = cores();

    QTemporaryDir tmp;
    QElapsedTimer made;
    made.start();
    ccsim::Home home = ccsim::Home::create(tmp.path().toStdString() + "/night home");
    home.setStrict(true);
    ccsim::GenerateOptions o;
    o.seed = 12;
    for (int i = 1; i <= site.hosts; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "ccnight%03d", i);
        o.hostNames.emplace_back(name);
    }
    o.broken = 0.2;
    home.generate(std::size_t(site.views), o);
    std::map<std::string, int> perHost;
    for (const ccsim::View& v : home.views())
        ++perHost[v.host];
    // As the generator counts them; the check's verdicts must agree.
    site.broken = int(double(site.views) * o.broken);
    int most = 0;
    for (const auto& [host, n] : perHost)
        most = std::max(most, n);
    note(QStringLiteral("12: the site: %1, %2 of them broken, %3 to %4 views a host; made in %5")
             .arg(site.size())
             .arg(fmt_count(site.broken))
             .arg(perHost.empty() ? 0
                                  : std::min_element(perHost.begin(), perHost.end(),
                                                     [](const auto& a, const auto& b) {
                                                         return a.second < b.second;
                                                     })
                                        ->second)
             .arg(most)
             .arg(fmt_ms(ms_since(made))));

    const test::StandIns standIns(home);
    UseHome use(home.dir());
    const QString jobs = QString::number(site.jobs);

    home.clearJournal();
    QString load = load_average();
    const Run check =
        run_tessaly({QStringLiteral("--check"), QStringLiteral("--all"), QStringLiteral("--jobs"),
                     jobs, QStringLiteral("--format"), QStringLiteral("json")},
                    tmp.path());
    report_run(site, QStringLiteral("--check --all --jobs %1").arg(jobs), check,
               parse_report(check.out), home, false, load);

    home.clearJournal();
    load = load_average();
    const Run repair = run_tessaly({QStringLiteral("--repair"), QStringLiteral("--needed"),
                                    QStringLiteral("--all"), QStringLiteral("--jobs"), jobs,
                                    QStringLiteral("--format"), QStringLiteral("json")},
                                   tmp.path());
    report_run(site, QStringLiteral("--repair --needed --all --jobs %1").arg(jobs), repair,
               parse_report(repair.out), home, true, load);
}

} // namespace tsy::bench
