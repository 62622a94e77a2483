// SPDX-License-Identifier: Apache-2.0
#include "headless_run.h"

#include "harness.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

extern char** environ;

namespace tsy::bench {

namespace {

// utime + stime (fields 14 and 15) of /proc/PID/stat in milliseconds, and
// cutime + cstime (16 and 17), or -1. The first two count the process's
// own threads only; the others the children it waited for, theirs
// included.
std::pair<double, double> cpu_ms(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {-1, -1};
    const QByteArray stat = f.readAll();
    // The command name (field 2) is in parentheses and may hold blanks or
    // parentheses itself: the fields are counted from after the last ')'.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {-1, -1};
    const QList<QByteArray> fields = stat.mid(close + 2).split(' '); // [0] is field 3
    if (fields.size() < 15)
        return {-1, -1};
    const long hz = ::sysconf(_SC_CLK_TCK);
    const auto sum = [&](int a, int b) {
        bool okA = false, okB = false;
        const double ticks = double(fields[a].toLongLong(&okA) + fields[b].toLongLong(&okB));
        return okA && okB && hz > 0 ? ticks * 1000.0 / double(hz) : -1.0;
    };
    return {sum(11, 12), sum(13, 14)};
}

// VmHWM of /proc/PID/status in MiB, or -1 (gone, or a zombie: its memory
// is released before it becomes one).
double hwm_mib(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (!line.startsWith("VmHWM:"))
            continue;
        bool ok = false;
        const double kb = line.mid(6).trimmed().split(' ').value(0).toDouble(&ok);
        return ok ? kb / 1024.0 : -1;
    }
    return -1;
}

} // namespace

// Tessaly's own CPU time is read from /proc when it has exited but before
// it is reaped: waitid(WNOWAIT) leaves it a zombie whose stat still holds
// its final utime and stime, so nothing it spent is missed (a poll while it
// runs would lose the time since the last poll), and nothing its children
// spent is counted in them; they are in its cutime and cstime, which is
// where the repair units and everything they start end up, since Tessaly
// waits for each. Its peak memory cannot be read so: a zombie has none.
// It is polled (VmHWM, its own high-water mark) every 100 ms while it runs,
// and wait4's ru_maxrss is kept beside it: the highest of its own peak and
// its waited-for descendants', an upper bound. QProcess is not used: it
// reaps the child itself.
Run run_tessaly(const QStringList& args, const QString& dir) {
    Run r;
    std::vector<std::string> words{TESSALY_BIN};
    for (const QString& a : args)
        words.push_back(a.toStdString());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    // The face without a display, and without its log of every command.
    std::vector<std::string> envWords;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "QT_LOGGING_RULES=", 17) != 0)
            envWords.emplace_back(*e);
    }
    envWords.emplace_back("QT_LOGGING_RULES=tessaly.run.info=false");
    std::vector<char*> envp;
    for (std::string& w : envWords)
        envp.push_back(w.data());
    envp.push_back(nullptr);

    const std::string outPath = QString(dir + QStringLiteral("/out")).toStdString();
    const std::string errPath = QString(dir + QStringLiteral("/err")).toStdString();
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QElapsedTimer t;
    t.start();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        r.err = QByteArray("cannot start ") + TESSALY_BIN + ": " + std::strerror(rc);
        return r;
    }
    // A pidfd becomes readable when the process exits, so polling its
    // memory costs the wall time nothing. Without one (old kernels) the
    // wait blocks and only wait4's figure is left.
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        while (true) {
            r.hwmMib = std::max(r.hwmMib, hwm_mib(pid));
            const int n = ::poll(&p, 1, 100);
            if (n > 0 || (n < 0 && errno != EINTR))
                break;
        }
        ::close(pidfd);
    }
    siginfo_t info{};
    int w;
    do {
        w = ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT);
    } while (w != 0 && errno == EINTR);
    r.wallMs = ms_since(t);
    std::tie(r.cpuMs, r.childCpuMs) = cpu_ms(pid);
    int st = 0;
    rusage ru{};
    while (::wait4(pid, &st, 0, &ru) < 0 && errno == EINTR) {
    }
    r.maxRssMib = double(ru.ru_maxrss) / 1024.0; // kilobytes on Linux
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    QFile out(dir + QStringLiteral("/out")), err(dir + QStringLiteral("/err"));
    if (out.open(QIODevice::ReadOnly))
        r.out = out.readAll();
    if (err.open(QIODevice::ReadOnly))
        r.err = err.readAll();
    return r;
}

namespace {

std::optional<double> epoch_seconds(const QJsonValue& v) {
    if (v.isDouble())
        return v.toDouble();
    const QDateTime d = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
    if (!d.isValid())
        return std::nullopt;
    return double(d.toMSecsSinceEpoch()) / 1000.0;
}

} // namespace

Report parse_report(const QByteArray& out) {
    Report rep;
    for (const QByteArray& line : out.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (!doc.isObject()) {
            ++rep.badLines;
            continue;
        }
        const QJsonObject o = doc.object();
        if (o.contains(QStringLiteral("summary"))) {
            rep.summary = true;
            continue;
        }
        Record r;
        r.tag = o.value(QStringLiteral("tag")).toString();
        r.host = o.value(QStringLiteral("host")).toString();
        r.outcome = o.value(QStringLiteral("outcome")).toString();
        r.reason = o.value(QStringLiteral("reason")).toString();
        r.startS = epoch_seconds(o.value(QStringLiteral("start")));
        r.durationS = o.value(QStringLiteral("duration_s")).toDouble();
        rep.views.push_back(r);
    }
    return rep;
}

int count_outcome(const Report& rep, const QString& outcome) {
    return int(std::count_if(rep.views.begin(), rep.views.end(),
                             [&](const Record& r) { return r.outcome == outcome; }));
}

int most_at_once(std::vector<std::pair<std::int64_t, std::int64_t>> spans) {
    std::vector<std::pair<std::int64_t, int>> edges;
    for (const auto& [from, to] : spans) {
        edges.emplace_back(from, +1);
        edges.emplace_back(to, -1);
    }
    std::sort(edges.begin(), edges.end()); // at one time, ends (-1) before starts
    int open = 0, most = 0;
    for (const auto& e : edges)
        most = std::max(most, open += e.second);
    return most;
}

Overlaps overlaps(const ccsim::Home& home) {
    std::map<std::string, const ccsim::View*> byStorage; // both paths of each view
    const std::vector<ccsim::View> views = home.views();
    for (const ccsim::View& v : views) {
        byStorage[v.storage] = &v;
        byStorage[home.globalPath(v)] = &v;
    }
    // A long run starts more processes than there are pids, so one pid can
    // be two fix_prots' in turn: each call is paired with the first end of
    // its pid that is not before it, not with the pid's last end.
    std::map<int, std::vector<std::int64_t>> endsOf; // in end order
    for (const ccsim::JournalEntry& e : home.ends())
        endsOf[e.pid].push_back(e.timeMs);
    Overlaps o;
    std::map<std::string, std::vector<std::pair<std::int64_t, std::int64_t>>> byHost;
    std::vector<std::pair<std::int64_t, std::int64_t>> all;
    std::map<std::string, std::int64_t> fixEndOfTag;
    for (const ccsim::JournalEntry& e : home.journal()) {
        if (e.program != "fix_prot" || e.args.empty())
            continue;
        ++o.fixProts;
        const auto ends = endsOf.find(e.pid);
        const auto end = ends == endsOf.end() ? std::vector<std::int64_t>::const_iterator()
                                              : std::lower_bound(ends->second.cbegin(),
                                                                 ends->second.cend(), e.timeMs);
        if (ends == endsOf.end() || end == ends->second.cend()) {
            ++o.unended;
            continue;
        }
        const auto v = byStorage.find(e.args.back());
        const std::string host = v == byStorage.end() ? "?" : v->second->host;
        byHost[host].emplace_back(e.timeMs, *end);
        all.emplace_back(e.timeMs, *end);
        if (v != byStorage.end())
            fixEndOfTag[v->second->tag] = *end;
    }
    for (const auto& [host, spans] : byHost) {
        o.maxPerHost = std::max(o.maxPerHost, most_at_once(spans));
        double ms = 0;
        for (const auto& [from, to] : spans)
            ms += double(to - from);
        if (ms > o.busiestHostMs) {
            o.busiestHostMs = ms;
            o.busiestHost = host;
        }
    }
    o.maxAtOnce = most_at_once(all);
    for (const ccsim::JournalEntry& e : home.journal()) {
        if (e.program != "cleartool" || e.args.empty() ||
            std::find(e.args.begin(), e.args.end(), "endview") == e.args.end())
            continue;
        const auto fixed = fixEndOfTag.find(e.args.back());
        if (fixed != fixEndOfTag.end() && e.timeMs < fixed->second)
            ++o.endviewTooEarly;
    }
    return o;
}

} // namespace tsy::bench
