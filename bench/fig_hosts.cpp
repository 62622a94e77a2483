// SPDX-License-Identifier: Apache-2.0
// Figure 10: a headless repair spread over storage hosts. Many views on
// twelve simulated hosts, fix_prot taking half a second each, repaired
// with --jobs 12 beside the ideal (one view at a time per host, all hosts
// at once) and beside --jobs 1; Tessaly's own CPU share meanwhile; and how
// long an unreachable host holds the run up, counted in connect timeouts.
//
// fix_prot runs on each view's host through the ssh stand-in, since none
// of the simulated hosts is this machine. The simulator's journal (calls,
// by start) and its end records (fix_prot's returns, paired by pid) show
// whether two fix_prots of one host ever overlapped and whether each
// endview came after its view's fix_prot had ended.
#include "figures.h"
#include "harness.h"
#include "headless_run.h"
#include "simhome.h"

#include "repair/fixprot.h"
#include "repair/inspection.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace tsy::bench {

namespace {

// Names each view's host from a balanced list in a fixed shuffled order,
// so that hosts are interleaved in the listing (sorted by tag) but not in
// a regular pattern.
void add_views(ccsim::Home& home, const std::string& prefix, const std::vector<std::string>& hosts,
               int perHost) {
    std::vector<std::string> order;
    for (int i = 0; i < perHost; ++i)
        order.insert(order.end(), hosts.begin(), hosts.end());
    std::uint64_t x = 0x9e3779b97f4a7c15ULL;
    for (std::size_t i = order.size(); i > 1; --i) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        std::swap(order[i - 1], order[(x >> 33) % i]);
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        ccsim::View v;
        char tag[64];
        std::snprintf(tag, sizeof tag, "%s_%03zu", prefix.c_str(), i + 1);
        v.tag = tag;
        v.host = order[i];
        home.addView(v);
    }
}

QStringList repair_args(int jobs) {
    return {QStringLiteral("--repair"), QStringLiteral("--all"),    QStringLiteral("--jobs"),
            QString::number(jobs),      QStringLiteral("--format"), QStringLiteral("json")};
}

// Notes what a run that did not go as planned said.
void note_run(const QString& what, const Run& r, const Report& rep, int views) {
    const int repaired = count_outcome(rep, QStringLiteral("repaired"));
    if (r.status == 0 && repaired == views && rep.badLines == 0 && rep.summary)
        return;
    note(QStringLiteral("10: WARNING: %1 ended with status %2; %3 of %4 views repaired, %5 JSON "
                        "lines of %6 (%7 not JSON)%8; its stderr: %9")
             .arg(what)
             .arg(r.status)
             .arg(repaired)
             .arg(views)
             .arg(rep.views.size())
             .arg(views)
             .arg(rep.badLines)
             .arg(rep.summary ? QString() : QStringLiteral(", no summary line"))
             .arg(QString::fromLocal8Bit(r.err.left(400)).simplified()));
}

// The spread figures 10 and 11 share: 12 hosts (3 in a smoke run) of 20
// views each (8), every view's step taking half a second (50 ms), 12 views
// at work at once.
struct Spread {
    int hostCount = smoke() ? 3 : 12;
    int perHost = smoke() ? 8 : 20;
    int sleepMs = smoke() ? 50 : 500;
    int jobs = 12;
    int views = hostCount * perHost;
    // One view at a time per host (--per-host 1), every host at once: each
    // host's views one after another, jobs permitting.
    double idealMs = double(std::max(perHost, (views + jobs - 1) / jobs)) * sleepMs;

    // A strict home with the spread's views, the step slowed by fault.
    ccsim::Home home(const QString& tmp, const char* dir, const char* fault) const {
        std::vector<std::string> hosts;
        for (int i = 1; i <= hostCount; ++i)
            hosts.push_back(std::string(i < 10 ? "ccstore0" : "ccstore").append(std::to_string(i)));
        ccsim::Home h = ccsim::Home::create(tmp.toStdString() + dir);
        h.setStrict(true);
        add_views(h, "proj", hosts, perHost);
        h.setFault(fault, std::to_string(sleepMs));
        return h;
    }
};

void parallel_hosts(const QString& tmp) {
    const Spread sp;
    const int hostCount = sp.hostCount, sleepMs = sp.sleepMs;
    const int jobs = sp.jobs, views = sp.views;
    const double idealMs = sp.idealMs;
    ccsim::Home home = sp.home(tmp, "/hosts home", "fixprot_sleep_ms");
    const test::StandIns standIns(home);
    UseHome use(home.dir());

    home.breakStorage();
    home.clearJournal();
    const Run par = run_tessaly(repair_args(jobs), tmp);
    const Report parRep = parse_report(par.out);
    const Overlaps ov = overlaps(home);
    note_run(QStringLiteral("--jobs %1").arg(jobs), par, parRep, views);
    int unfixed = 0;
    for (const ccsim::View& v : home.views())
        unfixed += home.storageFixed(v.tag) ? 0 : 1;
    if (unfixed)
        note(QStringLiteral("10: WARNING: %1 of %2 storages not repaired after --jobs %3")
                 .arg(unfixed)
                 .arg(views)
                 .arg(jobs));
    if (ov.unended || ov.endviewTooEarly)
        note(QStringLiteral("10: WARNING: --jobs %1: %2 fix_prots without an end, %3 endviews "
                            "before their fix_prot ended")
                 .arg(jobs)
                 .arg(ov.unended)
                 .arg(ov.endviewTooEarly));

    home.breakStorage();
    home.clearJournal();
    const Run seq = run_tessaly(repair_args(1), tmp);
    const Report seqRep = parse_report(seq.out);
    note_run(QStringLiteral("--jobs 1"), seq, seqRep, views);

    const QString size = QStringLiteral("%1 views on %2 hosts, fix_prot %3")
                             .arg(views)
                             .arg(hostCount)
                             .arg(fmt_ms(sleepMs));
    row(QStringLiteral("10. --repair --all --jobs %1, %2").arg(jobs).arg(size), fmt_ms(par.wallMs),
        QStringLiteral("<= 1.15x ideal %1").arg(fmt_ms(idealMs)),
        QStringLiteral("%1x ideal; %2 repaired; --jobs 1: %3 (%4x slower)")
            .arg(fmt_num(par.wallMs / idealMs, 2))
            .arg(count_outcome(parRep, QStringLiteral("repaired")))
            .arg(fmt_ms(seq.wallMs))
            .arg(fmt_num(seq.wallMs / par.wallMs, 1)),
        par.wallMs <= 1.15 * idealMs);
    row(QStringLiteral("10. fix_prots at work on one host at once (ccsim journal and ends)"),
        QString::number(ov.maxPerHost), QStringLiteral("<= 1 (--per-host 1)"),
        QStringLiteral("%1 at once on all hosts, of %2 fix_prots")
            .arg(ov.maxAtOnce)
            .arg(ov.fixProts),
        ov.fixProts > 0 && ov.maxPerHost <= 1);
    const double cpuPct = par.cpuMs >= 0 ? 100.0 * par.cpuMs / par.wallMs : -1;
    row(QStringLiteral("10. Tessaly's own CPU during --jobs %1, % of one core").arg(jobs),
        cpuPct >= 0 ? fmt_num(cpuPct, 2) + QStringLiteral(" %") : QStringLiteral("unread"),
        QStringLiteral("<= 2 %"),
        // The same views one at a time cost about as much CPU if the time
        // goes on each view's starts rather than on running them at once.
        QStringLiteral("%1 CPU in %2 (its own, not its children's); --jobs 1: %3 CPU")
            .arg(fmt_ms(par.cpuMs), fmt_ms(par.wallMs), fmt_ms(seq.cpuMs)),
        cpuPct >= 0 && cpuPct <= 2.0);
}

void unreachable_host(const QString& tmp) {
    const int downViews = smoke() ? 4 : 40;
    const int upViews = smoke() ? 2 : 6;
    const int timeoutMs = smoke() ? 200 : 1000;
    const std::string down = "ccdown01", up = "ccup01";
    ccsim::Home home = ccsim::Home::create(tmp.toStdString() + "/unreachable home");
    home.setStrict(true);
    add_views(home, "dn", {down}, downViews);
    add_views(home, "up", {up}, upViews);
    home.setFault("ssh_unreachable", down);
    home.setFault("ssh_timeout_ms", std::to_string(timeoutMs));
    const test::StandIns standIns(home);
    UseHome use(home.dir());

    home.clearJournal();
    const Run r = run_tessaly(repair_args(12), tmp);
    const Report rep = parse_report(r.out);

    // The journal's ssh calls to the host: the host word comes after the
    // options, as [USER@]HOST.
    std::vector<std::int64_t> sshStarts;
    for (const ccsim::JournalEntry& e : home.journal()) {
        if (e.program != "ssh")
            continue;
        for (const std::string& a : e.args) {
            if (a == down || (a.ends_with(down) && a.size() > down.size() &&
                              a[a.size() - down.size() - 1] == '@')) {
                sshStarts.push_back(e.timeMs);
                break;
            }
        }
    }
    // The time on the host, as the run reports it: from the first of its
    // views started to the last ended. The journal gives another reading:
    // from the first ssh to it until the last one timed out.
    std::optional<double> first, last;
    int downRecords = 0, skipped = 0, upRepaired = 0;
    for (const Record& v : rep.views) {
        if (v.host == QString::fromStdString(up) && v.outcome == QStringLiteral("repaired"))
            ++upRepaired;
        if (v.host != QString::fromStdString(down))
            continue;
        ++downRecords;
        skipped += v.outcome == QStringLiteral("skipped") &&
                   v.reason.contains(QStringLiteral("unreachable"));
        if (!v.startS)
            continue;
        first = std::min(first.value_or(*v.startS), *v.startS);
        last = std::max(last.value_or(0.0), *v.startS + v.durationS);
    }
    const double journalMs =
        sshStarts.empty()
            ? 0
            : double(*std::max_element(sshStarts.begin(), sshStarts.end()) -
                     *std::min_element(sshStarts.begin(), sshStarts.end()) + timeoutMs);
    double spentMs = journalMs;
    if (first && last)
        spentMs = (*last - *first) * 1000.0;
    else
        note(QStringLiteral("10: the JSON lines give no start times for %1; the time on it is "
                            "read from the journal")
                 .arg(QString::fromStdString(down)));
    if (r.status == -1 || downRecords != downViews || upRepaired != upViews || rep.badLines)
        note(QStringLiteral("10: WARNING: the unreachable-host run ended with status %1; JSON "
                            "lines for %2: %3 of %4, %5 of %6 views on %7 repaired, %8 not JSON; "
                            "its stderr: %9")
                 .arg(r.status)
                 .arg(QString::fromStdString(down))
                 .arg(downRecords)
                 .arg(downViews)
                 .arg(upRepaired)
                 .arg(upViews)
                 .arg(QString::fromStdString(up))
                 .arg(rep.badLines)
                 .arg(QString::fromLocal8Bit(r.err.left(400)).simplified()));

    // Each timeout waited is the figure; the lookups and starts around
    // them add some milliseconds, well short of a third timeout.
    const double timeouts = spentMs / timeoutMs;
    row(QStringLiteral("10. an unreachable host, %1 views, ConnectTimeout %2: time spent on it")
            .arg(downViews)
            .arg(fmt_ms(timeoutMs)),
        QStringLiteral("%1 timeouts").arg(fmt_num(timeouts, 2)), QStringLiteral("<= 2 timeouts"),
        QStringLiteral("%1 (journal: %2); run %3; %4 skipped as unreachable")
            .arg(fmt_ms(spentMs), fmt_ms(journalMs), fmt_ms(r.wallMs))
            .arg(skipped),
        !sshStarts.empty() && timeouts <= 2.2);
    row(QStringLiteral("10. ssh calls to the unreachable host (ccsim journal)"),
        QString::number(sshStarts.size()), QStringLiteral("<= 2"),
        QStringLiteral("%1 of %2 views on a reachable host repaired").arg(upRepaired).arg(upViews),
        !sshStarts.empty() && sshStarts.size() <= 2);
}

} // namespace

void figure_hosts() {
    QTemporaryDir tmp;
    parallel_hosts(tmp.path());
    unreachable_host(tmp.path());
}

namespace {

// Figure 11a: --check over the same spread as figure 10, the inspection
// of each storage taking half a second (the find stand-in's walk).
void check_hosts(const QString& tmp) {
    const Spread sp;
    const int hostCount = sp.hostCount, sleepMs = sp.sleepMs, jobs = sp.jobs, views = sp.views;
    const double idealMs = sp.idealMs;
    ccsim::Home home = sp.home(tmp, "/check home", "find_sleep_ms");
    for (const ccsim::View& v : home.views())
        home.fixStorage(v.tag); // sound storages: the whole walk is made
    const test::StandIns standIns(home);
    UseHome use(home.dir());
    home.clearJournal();
    const Run r =
        run_tessaly({QStringLiteral("--check"), QStringLiteral("--all"), QStringLiteral("--jobs"),
                     QString::number(jobs), QStringLiteral("--format"), QStringLiteral("json")},
                    tmp);
    const Report rep = parse_report(r.out);
    const int sound = count_outcome(rep, QStringLiteral("sound"));
    int fixProts = 0;
    for (const ccsim::JournalEntry& e : home.journal())
        fixProts += e.program == "fix_prot" ? 1 : 0;
    if (r.status != 0 || sound != views || fixProts != 0)
        note(QStringLiteral("11: WARNING: --check ended with status %1, %2 of %3 views sound, %4 "
                            "fix_prots; its stderr: %5")
                 .arg(r.status)
                 .arg(sound)
                 .arg(views)
                 .arg(fixProts)
                 .arg(QString::fromLocal8Bit(r.err.left(400)).simplified()));
    row(QStringLiteral("11. --check --all --jobs %1, %2 views on %3 hosts, inspection %4")
            .arg(jobs)
            .arg(views)
            .arg(hostCount)
            .arg(fmt_ms(sleepMs)),
        fmt_ms(r.wallMs), QStringLiteral("<= 1.15x ideal %1").arg(fmt_ms(idealMs)),
        QStringLiteral("%1x ideal; %2 sound").arg(fmt_num(r.wallMs / idealMs, 2)).arg(sound),
        r.status == 0 && sound == views && r.wallMs <= 1.15 * idealMs);
}

// The wall time of words, started directly and waited for; -1 if it failed.
double time_words(const QStringList& words, QByteArray* out = nullptr) {
    QProcess p;
    p.setProgram(words.first());
    p.setArguments(words.mid(1));
    p.setStandardInputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start();
    if (!p.waitForFinished(120'000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return -1;
    const double ms = ms_since(t);
    if (out)
        *out = p.readAllStandardOutput();
    return ms;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// Figure 11b: the inspection of one sound storage of 10,000 entries, as
// it runs on the storage host, beside the find it runs alone on it.
void check_one_storage(const QString& tmp) {
    const int entries = smoke() ? 1000 : 10000;
    const int rounds = smoke() ? 3 : 9;
    ccsim::Home home = ccsim::Home::create(tmp.toStdString() + "/storage home");
    home.setStrict(true);
    ccsim::View v;
    v.tag = "big";
    v.host = "ccstore01";
    v = home.addView(v);
    // 100 directories of files, all the view's: the storage starts so.
    const QString root = QString::fromStdString(v.storage);
    for (int d = 0, made = 0; made < entries; ++d) {
        const QString dir = root + QStringLiteral("/d%1").arg(d);
        QDir().mkpath(dir);
        ++made;
        for (int f = 0; f < entries / 100 - 1 && made < entries; ++f, ++made) {
            QFile file(dir + QStringLiteral("/f%1").arg(f));
            if (!file.open(QIODevice::WriteOnly))
                break;
        }
    }
    home.fixStorage(v.tag);
    const test::StandIns standIns(home);
    const QString find = QString::fromStdString(home.dir()) + QStringLiteral("/var/ccsim/bin/find");
    const QStringList alone{find,
                            root,
                            QStringLiteral("-path"),
                            root + QStringLiteral("/.s/*"),
                            QStringLiteral("-prune"),
                            QStringLiteral("-o"),
                            QStringLiteral("("),
                            QStringLiteral("!"),
                            QStringLiteral("-user"),
                            QString::fromStdString(v.owner),
                            QStringLiteral("-o"),
                            QStringLiteral("!"),
                            QStringLiteral("-group"),
                            QString::fromStdString(v.group),
                            QStringLiteral(")"),
                            QStringLiteral("-print")};
    // On the storage host, as root: sh and the host's find (the stand-in
    // first in PATH, as the ssh stand-in puts it).
    const QString owner = QString::fromStdString(v.owner), group = QString::fromStdString(v.group);
    const repair::Reach reach = repair::reach_from_environment();
    const QStringList inspect = repair::inspection_words(reach, QString(), root, owner, group);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(QString::fromStdString(home.dir()) +
                                      QStringLiteral("/var/ccsim/bin:")) +
                        path);
    // Through ssh, as Tessaly starts it for another host.
    const QStringList remote =
        repair::inspection_words(reach, QStringLiteral("ccstore01"), root, owner, group);
    std::vector<double> a, b, c;
    QByteArray printed = "x";
    for (int i = 0; i < rounds; ++i) {
        a.push_back(time_words(alone));
        b.push_back(time_words(inspect, &printed));
        c.push_back(time_words(remote));
    }
    qputenv("PATH", path);
    const double findMs = median(a), inspectMs = median(b), remoteMs = median(c);
    repair::InspectionEnd end;
    end.out = printed;
    const bool ran =
        findMs > 0 && inspectMs > 0 && remoteMs > 0 &&
        repair::verdict(end, root, owner, group, QString()).kind == repair::Verdict::Kind::Sound;
    if (!ran)
        note(QStringLiteral("11: WARNING: the inspection of the big storage failed or found "
                            "entries: %1")
                 .arg(QString::fromLocal8Bit(printed.left(200))));
    row(QStringLiteral("11. inspection of one sound storage of %1 entries (median of %2)")
            .arg(entries)
            .arg(rounds),
        fmt_ms(inspectMs), QStringLiteral("<= 1.2x find alone %1").arg(fmt_ms(findMs)),
        QStringLiteral("%1x find alone; through ssh: %2 (%3x)")
            .arg(fmt_num(inspectMs / findMs, 2))
            .arg(fmt_ms(remoteMs))
            .arg(fmt_num(remoteMs / findMs, 2)),
        ran && inspectMs <= 1.2 * findMs);
}

} // namespace

void figure_check() {
    QTemporaryDir tmp;
    check_hosts(tmp.path());
    check_one_storage(tmp.path());
}

} // namespace tsy::bench
