// SPDX-License-Identifier: Apache-2.0
#include "options.h"

#include <QCommandLineParser>
#include <QJsonArray>

#include <algorithm>

namespace tsy::headless {

namespace {
// What --help says after the options: the exit statuses and the
// environment variables read.
QString help_ending() {
    return QStringLiteral(
        "\n"
        "Exit status:\n"
        "  0  every view was listed, repaired, found sound or, with --dry-run,\n"
        "     planned\n"
        "  1  a view could not be read, failed, was skipped or not started, needs\n"
        "     repair or could not be checked (--check), the listing failed, a pick\n"
        "     matched no view, or --failed-to could not be written\n"
        "  2  bad usage, no ClearCase (or --check or --needed without UNIX\n"
        "     ClearCase), or a file, link or directory another account may have\n"
        "     put in the way (named): nothing was run\n"
        "  3  another repair run of this user is under way: nothing was run\n"
        "\n"
        "Environment:\n"
        "  CLEARCASEHOME    the ClearCase installation (else ATRIAHOME, else\n"
        "                   /opt/rational/clearcase)\n"
        "  TESSALY_SSH      the remote shell to a view's host, split into words as a\n"
        "                   POSIX shell splits them (default: ssh -o BatchMode=yes\n"
        "                   -o ConnectTimeout=15 -o ServerAliveInterval=30\n"
        "                   -o ServerAliveCountMax=4)\n"
        "  TESSALY_SHARE_SSH  1: one ssh connection per host for the whole run (as\n"
        "                   --share-ssh; the window reads it too)\n"
        "  TESSALY_SUDO     the words that make fix_prot run as root, split likewise\n"
        "                   (default: sudo -n)\n"
        "  TESSALY_WRAP     the repair unit that runs fix_prot and then endview\n"
        "                   (default: tessaly-wrap beside the program)\n"
        "  TESSALY_INSPECT  the storage inspector that sudo runs where the remote\n"
        "                   account cannot read a storage (default: tessaly-inspect\n"
        "                   beside the repair unit, /usr/lib/tessaly/tessaly-inspect)\n"
        "  TESSALY_LOCK_DIR where the run lock and this machine's storage locks are\n"
        "                   kept, shared by every account (default: /run/lock/tessaly)\n"
        "  TESSALY_HOST_LOCK_DIR  where a storage's host keeps its lock (default:\n"
        "                   /run/lock/tessaly-storage; the host's own setting wins)\n"
        "  TERMINAL         the terminal program of the window's Normal and\n"
        "                   Minimized modes (default: xterm)\n"
        "  TESSALY_LIST_TIMEOUT  seconds the listing may take in all, however much\n"
        "                   cleartool writes (default: 3600)\n"
        "  XDG_RUNTIME_DIR  where the repair units leave their records, when it is\n"
        "                   this user's alone (else /run/user/UID, else\n"
        "                   $TMPDIR/tessaly-UID, made with mode 0700)\n"
        "  QT_LOGGING_RULES \"tessaly.run.info=false\" silences the command log\n"
        "\n"
        "The command log (every command run, how it ended and how long it took) goes\n"
        "to the system log as tessaly when there is one (/dev/log), to --log's file\n"
        "with UTC time stamps, and to stderr with --verbose.\n");
}

// A whole number of at least 1 from an option's value, or 0.
int count_value(const QString& text) {
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && n >= 1 ? n : 0;
}

ParsedOptions refused(ParsedOptions& parsed, const QString& why) {
    parsed.error = why;
    return parsed;
}
} // namespace

ParsedOptions parse_options(const QStringList& arguments) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Lists the ClearCase views of the region, or repairs the protections of their storage "
        "with fix_prot and stops their servers. Without options the window starts."));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("Print every view, one tag:host line each."));
    const QCommandLineOption repair(
        QStringLiteral("repair"),
        QStringLiteral("Repair the views picked by --all, --match, --host and --tags."));
    const QCommandLineOption check(
        QStringLiteral("check"),
        QStringLiteral("Say which of the picked views need repair: inspect the ownership of their "
                       "storage on its host; run no fix_prot and no endview."));
    const QCommandLineOption needed(
        QStringLiteral("needed"),
        QStringLiteral("With --repair: check each view first and repair only those that need it; "
                       "the servers of sound views keep running."));
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Every view."));
    const QCommandLineOption match(QStringLiteral("match"),
                                   QStringLiteral("The views whose line contains PATTERN."),
                                   QStringLiteral("PATTERN"));
    const QCommandLineOption exclude(
        QStringLiteral("exclude"),
        QStringLiteral("Leave out the views whose line contains PATTERN (may be repeated)."),
        QStringLiteral("PATTERN"));
    const QCommandLineOption ignoreCase(
        QStringLiteral("ignore-case"), QStringLiteral("--match and --exclude ignore letter case."));
    const QCommandLineOption host(
        QStringLiteral("host"),
        QStringLiteral("The views whose storage is on host NAME, exactly (may be repeated)."),
        QStringLiteral("NAME"));
    const QCommandLineOption tags(
        QStringLiteral("tags"),
        QStringLiteral("The views whose tags FILE names, one a line (- for standard input)."),
        QStringLiteral("FILE"));
    const QCommandLineOption jobs(QStringLiteral("jobs"),
                                  QStringLiteral("Repair up to N views at once (default 1)."),
                                  QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption perHost(
        QStringLiteral("per-host"),
        QStringLiteral("At most K of them on one storage host at once (default 1)."),
        QStringLiteral("K"), QStringLiteral("1"));
    const QCommandLineOption format(
        QStringLiteral("format"),
        QStringLiteral("text (the default) or json: one JSON object per view and a summary."),
        QStringLiteral("FORMAT"), QStringLiteral("text"));
    const QCommandLineOption failedTo(
        QStringLiteral("failed-to"),
        QStringLiteral("Write the tags that failed, were skipped or not started to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption args(
        QStringLiteral("args"),
        QStringLiteral("fix_prot's arguments instead of the default ones ({owner} and {group} "
                       "are filled per view)."),
        QStringLiteral("TEXT"));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"),
        QStringLiteral("Look the views up and print what would run; run nothing."));
    const QCommandLineOption quiet(
        {QStringLiteral("q"), QStringLiteral("quiet")},
        QStringLiteral("Print only the views that did not end well, and the summary. Twice: "
                       "print nothing at all when every view ended well (exit status 0)."));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Print the command log (every command run) on stderr too."));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Append the command log to FILE, each line with its UTC time."),
        QStringLiteral("FILE"));
    const QCommandLineOption shareSsh(
        QStringLiteral("share-ssh"),
        QStringLiteral("One ssh connection per storage host for the whole run, ended after it "
                       "(ControlMaster, with its socket in the runtime directory)."));
    p.addOptions({list,       repair, check, needed,  all,     match,   exclude,
                  ignoreCase, host,   tags,  jobs,    perHost, format,  failedTo,
                  args,       dryRun, quiet, verbose, log,     shareSsh});
    ParsedOptions parsed;
    if (!p.parse(arguments)) {
        parsed.error = p.errorText() + QStringLiteral(" (tessaly --help lists the options)");
        return parsed;
    }
    if (p.isSet(QStringLiteral("help"))) {
        parsed.help = true;
        parsed.helpText = p.helpText() + help_ending();
        return parsed;
    }
    if (p.isSet(QStringLiteral("version"))) {
        parsed.version = true;
        return parsed;
    }
    Options& o = parsed.options;
    o.list = p.isSet(list);
    o.repair = p.isSet(repair);
    o.check = p.isSet(check);
    o.needed = p.isSet(needed);
    o.all = p.isSet(all);
    o.dryRun = p.isSet(dryRun);
    o.ignoreCase = p.isSet(ignoreCase);
    o.hasMatch = p.isSet(match);
    o.match = p.value(match);
    o.excludes = p.values(exclude);
    o.hasArgs = p.isSet(args);
    o.args = p.value(args);
    o.hosts = p.values(host);
    o.hasTags = p.isSet(tags);
    o.tagsFile = p.value(tags);
    o.jobs = count_value(p.value(jobs));
    o.perHost = count_value(p.value(perHost));
    o.hasFailedTo = p.isSet(failedTo);
    o.failedTo = p.value(failedTo);
    o.quiet = int(std::min<qsizetype>(2, p.optionNames().count(QStringLiteral("q")) +
                                             p.optionNames().count(QStringLiteral("quiet"))));
    o.verbose = p.isSet(verbose);
    o.hasLog = p.isSet(log);
    o.logFile = p.value(log);
    o.shareSsh = p.isSet(shareSsh);
    if (!p.positionalArguments().isEmpty()) {
        return refused(parsed,
                       QStringLiteral("unexpected argument: ") + p.positionalArguments().first());
    }
    if (int(o.list) + int(o.repair) + int(o.check) != 1) {
        return refused(parsed, QStringLiteral("say --list, --repair or --check (see --help)"));
    }
    if (o.needed && !o.repair) {
        return refused(parsed, QStringLiteral("--needed goes with --repair: nothing was run"));
    }
    if (o.check && (o.dryRun || o.hasArgs)) {
        return refused(
            parsed,
            QStringLiteral("--check changes nothing and runs no fix_prot: it takes no --dry-run "
                           "and no --args"));
    }
    // An empty value is a script's unset variable: --match "" would pick
    // every view of the site.
    if (o.hasMatch && o.match.isEmpty()) {
        return refused(
            parsed,
            QStringLiteral("--match needs a pattern; an empty one would pick every view (--all "
                           "says that): nothing was run"));
    }
    if (o.excludes.contains(QString())) {
        return refused(
            parsed,
            QStringLiteral("--exclude needs a pattern; an empty one would leave out every view: "
                           "nothing was run"));
    }
    if (o.hosts.contains(QString())) {
        return refused(parsed, QStringLiteral("--host needs a host name: nothing was run"));
    }
    if (o.hasTags && o.tagsFile.isEmpty()) {
        return refused(
            parsed,
            QStringLiteral("--tags needs a file name (- for the standard input): nothing was run"));
    }
    if (o.hasFailedTo && o.failedTo.isEmpty()) {
        return refused(parsed, QStringLiteral("--failed-to needs a file name: nothing was run"));
    }
    if (o.hasLog && o.logFile.isEmpty()) {
        return refused(parsed, QStringLiteral("--log needs a file name: nothing was run"));
    }
    const bool picked = o.all || o.hasMatch || !o.hosts.isEmpty() || o.hasTags;
    if ((o.repair || o.check) && (!picked || (o.all && o.hasMatch))) {
        return refused(
            parsed,
            (o.check ? QStringLiteral("--check") : QStringLiteral("--repair")) +
                QStringLiteral(" needs --all or --match PATTERN (one of them), or --host or "
                               "--tags: nothing was run"));
    }
    if (o.list && (picked || !o.excludes.isEmpty() || o.dryRun || o.hasArgs || p.isSet(jobs) ||
                   p.isSet(perHost) || p.isSet(failedTo) || o.quiet > 0)) {
        return refused(
            parsed,
            QStringLiteral("--list takes no other option than --format, --verbose and --log"));
    }
    if (o.jobs == 0 || o.perHost == 0) {
        return refused(parsed,
                       QStringLiteral("--jobs and --per-host take a whole number of at least 1"));
    }
    if (p.value(format) == u"json")
        o.format = Format::Json;
    else if (p.value(format) != u"text") {
        return refused(parsed, QStringLiteral("--format is text or json, not ") + p.value(format));
    }
    return parsed;
}

QJsonObject options_json(const Options& o) {
    const auto or_null = [](bool given, const QString& value) {
        return given ? QJsonValue(value) : QJsonValue(QJsonValue::Null);
    };
    return QJsonObject{
        {QStringLiteral("mode"), o.list     ? QStringLiteral("list")
                                 : o.check  ? QStringLiteral("check")
                                 : o.needed ? QStringLiteral("repair_needed")
                                            : QStringLiteral("repair")},
        {QStringLiteral("all"), o.all},
        {QStringLiteral("match"), or_null(o.hasMatch, o.match)},
        {QStringLiteral("exclude"), QJsonArray::fromStringList(o.excludes)},
        {QStringLiteral("ignore_case"), o.ignoreCase},
        {QStringLiteral("hosts"), QJsonArray::fromStringList(o.hosts)},
        {QStringLiteral("tags"), or_null(o.hasTags, o.tagsFile)},
        {QStringLiteral("jobs"), o.jobs},
        {QStringLiteral("per_host"), o.perHost},
        {QStringLiteral("dry_run"), o.dryRun},
        {QStringLiteral("args"), or_null(o.hasArgs, o.args)},
        {QStringLiteral("failed_to"), or_null(o.hasFailedTo, o.failedTo)},
        {QStringLiteral("quiet"), o.quiet},
        {QStringLiteral("log"), or_null(o.hasLog, o.logFile)},
    };
}

} // namespace tsy::headless
