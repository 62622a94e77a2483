// ccsim: administers simulated ClearCase homes (see `ccsim --help`).
#include "internal.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace ccsim;

namespace {

const char kHelp[] = R"(ccsim - a ClearCase simulator for trying and testing Tessaly

A home is a directory laid out like $CLEARCASEHOME: bin/cleartool and
etc/utils/fix_prot are stand-ins that read the view registry of the home.
Point Tessaly at it with:  CLEARCASEHOME=HOME tessaly

Usage:
  ccsim init HOME [--demo] [--views N] [--hosts H] [--seed S]
                  [--no-storage] [--shuffle] [--force]
      Lay out a new home. --demo adds a few hundred plausible views on
      several hosts; --views N adds N generated views (same seed, same
      views; --hosts picks how many server hosts; --no-storage registers
      them without storage directories, for benchmarks; --shuffle writes
      the registry in random order). --force replaces an existing home.
  ccsim add-view HOME --tag TAG --host HOST [--region R] [--owner O]
                  [--active] [--snapshot] [--ucm] [--config-spec-file F]
      Register one view and create its storage with broken permissions.
  ccsim list HOME
      One line per view: flags (a=active s=snapshot u=UCM), tag, host, storage.
  ccsim fault HOME [--view TAG] NAME[=VALUE]
      Inject a fault (VALUE defaults to 1).
      Per view (--view TAG):
        lsview_fail[=TEXT]   lsview naming the tag fails with TEXT on stderr
        catcs_fail[=TEXT]    catcs -tag TAG fails
        endview_fail[=TEXT]  endview TAG fails
        garble[=notag|junk]  its lsview -long record lacks "Tag:" / holds junk bytes
        no_host              its lsview -long record lacks "Server host:"
        hang[=SECONDS]       cleartool calls naming it sleep (1 = one hour)
        fixprot_exit=N       fix_prot on its storage fails with status N
        fixprot_sleep_ms=N   fix_prot on its storage sleeps N ms first
        fixprot_crash[=SEGV|KILL]  fix_prot dies by that signal half-way
      Command-wide:
        listing_fail[=TEXT]  lsview without tags fails
        truncate=N           lsview output is cut after N bytes
        garbage              binary junk (NUL, 0xFF, lone CR) in lsview output
        crlf                 all cleartool output uses CR LF line ends
        slow_ms=N            every cleartool call sleeps N ms first
        hang[=SECONDS]       every cleartool call sleeps (1 = one hour)
        fixprot_exit=N       every fix_prot call fails with status N
        fixprot_sleep_ms=N   every fix_prot call sleeps N ms first
  ccsim clear-faults HOME
  ccsim break-storage HOME [TAG]
      Break the permissions of every (or one) view's storage again.
  ccsim journal HOME [--clear]
      Print the call journal: time (ms), pid, program, arguments.
  ccsim --help
)";

int fail(const std::string& msg) {
    std::fprintf(stderr, "ccsim: %s\n", msg.c_str());
    return 1;
}

int usageError(const std::string& msg) {
    return fail(msg + " (see ccsim --help)");
}

struct Args {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options; // flags have value "\x01"
    static constexpr const char* kFlag = "\x01";

    const std::string* get(const std::string& name) const {
        const std::string* found = nullptr;
        for (const auto& [k, v] : options)
            if (k == name)
                found = &v;
        return found;
    }
    bool has(const std::string& name) const { return get(name) != nullptr; }
};

// Parses "--name value" for the options in withValue, "--name" for flags.
bool parseArgs(int argc, char** argv, int first, const std::vector<std::string>& withValue,
               const std::vector<std::string>& flags, Args& out, std::string& error) {
    for (int i = first; i < argc; ++i) {
        const std::string a = argv[i];
        if (a.rfind("--", 0) != 0) {
            out.positional.push_back(a);
            continue;
        }
        const std::string name = a.substr(2);
        bool known = false;
        for (const auto& w : withValue)
            if (w == name) {
                if (i + 1 >= argc) {
                    error = "option " + a + " needs a value";
                    return false;
                }
                out.options.emplace_back(name, argv[++i]);
                known = true;
            }
        for (const auto& f : flags)
            if (f == name) {
                out.options.emplace_back(name, Args::kFlag);
                known = true;
            }
        if (!known) {
            error = "unknown option " + a;
            return false;
        }
    }
    return true;
}

std::uint64_t number(const Args& a, const std::string& name, std::uint64_t fallback) {
    const std::string* v = a.get(name);
    if (!v)
        return fallback;
    std::uint64_t n = 0;
    if (!detail::parseUint(*v, n))
        throw Error("--" + name + " needs a non-negative number, not " + detail::printable(*v));
    return n;
}

int cmdInit(const Args& a) {
    if (a.positional.size() != 1)
        return usageError("init needs exactly one HOME");
    const std::string& dir = a.positional[0];
    if (a.has("force") && detail::exists(dir + "/var/ccsim/registry")) {
        for (const char* sub : {"/var/ccsim", "/bin/cleartool", "/etc/utils/fix_prot"})
            detail::removeTree(dir + sub);
    }
    Home home = Home::create(dir);
    if (a.has("demo"))
        home.makeDemo();
    if (a.has("views")) {
        GenerateOptions o;
        o.seed = number(a, "seed", 1);
        o.hosts = number(a, "hosts", 4);
        if (o.hosts == 0)
            throw Error("--hosts must be at least 1");
        o.storage = !a.has("no-storage");
        o.shuffle = a.has("shuffle");
        home.generate(number(a, "views", 0), o);
    }
    std::printf("ccsim home ready: %s (%zu views)\nTry: CLEARCASEHOME=\"%s\" tessaly\n",
                home.dir().c_str(), home.views().size(), home.dir().c_str());
    return 0;
}

int cmdAddView(const Args& a) {
    if (a.positional.size() != 1)
        return usageError("add-view needs exactly one HOME");
    if (!a.has("tag") || !a.has("host"))
        return usageError("add-view needs --tag and --host");
    Home home(a.positional[0]);
    View v;
    v.tag = *a.get("tag");
    v.host = *a.get("host");
    if (a.has("region"))
        v.region = *a.get("region");
    if (a.has("owner"))
        v.owner = *a.get("owner");
    v.active = a.has("active");
    v.snapshot = a.has("snapshot");
    v.ucm = a.has("ucm");
    if (a.has("config-spec-file"))
        v.configSpec = detail::readFile(*a.get("config-spec-file"));
    const View made = home.addView(v);
    std::printf("%s\n", made.storage.c_str());
    return 0;
}

int cmdList(const Args& a) {
    if (a.positional.size() != 1)
        return usageError("list needs exactly one HOME");
    std::string out;
    for (const View& v : Home(a.positional[0]).views()) {
        out += v.active ? 'a' : '-';
        out += v.snapshot ? 's' : '-';
        out += v.ucm ? 'u' : '-';
        out += ' ' + v.tag + '\t' + v.host + '\t' + v.storage + '\n';
    }
    detail::writeAll(1, out);
    return 0;
}

int cmdFault(const Args& a) {
    if (a.positional.size() != 2)
        return usageError("fault needs HOME and NAME[=VALUE]");
    Home home(a.positional[0]);
    const std::string& spec = a.positional[1];
    const std::size_t eq = spec.find('=');
    const std::string name = spec.substr(0, eq);
    const std::string value = eq == std::string::npos ? "1" : spec.substr(eq + 1);
    if (const std::string* tag = a.get("view"))
        home.setViewFault(*tag, name, value);
    else
        home.setFault(name, value);
    return 0;
}

int cmdJournal(const Args& a) {
    if (a.positional.size() != 1)
        return usageError("journal needs exactly one HOME");
    Home home(a.positional[0]);
    if (a.has("clear")) {
        home.clearJournal();
        return 0;
    }
    std::string out;
    for (const JournalEntry& e : home.journal()) {
        out += std::to_string(e.timeMs) + ' ' + std::to_string(e.pid) + ' ' + e.program;
        for (const auto& arg : e.args)
            out += ' ' + detail::printable(arg);
        out += '\n';
    }
    detail::writeAll(1, out);
    return 0;
}

int run(int argc, char** argv) {
    if (argc < 2)
        return usageError("no command given");
    const std::string cmd = argv[1];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    Args a;
    std::string error;
    std::vector<std::string> withValue, flags;
    if (cmd == "init") {
        withValue = {"views", "hosts", "seed"};
        flags = {"demo", "no-storage", "shuffle", "force"};
    } else if (cmd == "add-view") {
        withValue = {"tag", "host", "region", "owner", "config-spec-file"};
        flags = {"active", "snapshot", "ucm"};
    } else if (cmd == "fault") {
        withValue = {"view"};
    } else if (cmd == "journal") {
        flags = {"clear"};
    } else if (cmd != "list" && cmd != "clear-faults" && cmd != "break-storage") {
        return usageError("unknown command \"" + cmd + "\"");
    }
    if (!parseArgs(argc, argv, 2, withValue, flags, a, error))
        return usageError(error);
    if (cmd == "init")
        return cmdInit(a);
    if (cmd == "add-view")
        return cmdAddView(a);
    if (cmd == "list")
        return cmdList(a);
    if (cmd == "fault")
        return cmdFault(a);
    if (cmd == "journal")
        return cmdJournal(a);
    if (a.positional.empty() || a.positional.size() > (cmd == "break-storage" ? 2u : 1u))
        return usageError(cmd + " needs HOME" + (cmd == "break-storage" ? " [TAG]" : ""));
    Home home(a.positional[0]);
    if (cmd == "clear-faults")
        home.clearFaults();
    else
        home.breakStorage(a.positional.size() == 2 ? a.positional[1] : std::string());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
