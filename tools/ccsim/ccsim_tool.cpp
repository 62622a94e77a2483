// SPDX-License-Identifier: Apache-2.0
// ccsim: administers simulated ClearCase homes (see `ccsim --help`).
#include "internal.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace ccsim;

namespace {

const char kHelp[] = R"(ccsim - a ClearCase simulator for trying and testing Tessaly

A home is a directory laid out like $CLEARCASEHOME: bin/cleartool and
etc/utils/fix_prot are stand-ins that read the view registry of the home;
var/ccsim/bin/ssh and var/ccsim/bin/sudo stand in for ssh and sudo.
From the repository root, point Tessaly at it with:
  CLEARCASEHOME=HOME build/src/tessaly

Usage:
  ccsim init HOME [--demo] [--views N] [--hosts H] [--seed S]
                  [--no-storage] [--shuffle] [--force] [--lenient]
                  [--local-host NAME]
      Lay out a new home. --demo adds a few hundred plausible views on
      several hosts; --views N adds N generated views (same seed, same
      views; --hosts picks how many server hosts; --no-storage registers
      them without storage directories, for benchmarks; --shuffle writes
      the registry in random order). --force replaces an existing home.
      A new home is strict, as UNIX ClearCase is; --lenient makes it
      accept the Windows command line instead (--strict is still taken).
      See the strict and local-host commands below.
  ccsim strict HOME on|off
      Strict UNIX mode (the file HOME/var/ccsim/strict).
      When on, fix_prot:
        - refuses -recover ("-recover is supported on Windows only");
        - refuses -root without both -chown NAME and -chgrp NAME;
        - refuses to run unless as root: CCSIM_ROOT=1 (set by the sudo
          stand-in), or the real root where CCSIM_ROOT is unset;
          and on the view's host: CCSIM_HOST (set by the ssh stand-in), or
          else the home's local host, must be the host of the view whose
          storage it is given;
        - takes the owners and groups of registered views for -chown and
          -chgrp, and changes ownership only where that is real.
      And cleartool shows each view's global path as another real path to
      its storage, HOME/var/ccsim/net/HOST/TAG.vws, while "View server
      access path:" stays the storage directory (HOME/var/ccsim/storage/...).
      fix_prot repairs a view given either path.
  ccsim local-host HOME [NAME]
      The simulated name of this machine, where fix_prot runs without ssh
      (default: the short host name; an empty NAME resets it). Without
      NAME, print it.
  ccsim add-view HOME --tag TAG --host HOST [--region R] [--owner O]
                  [--group G] [--active] [--snapshot] [--ucm]
                  [--config-spec-file F]
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
        lookup_other_tag[=OTHER]  `lsview TAG` prints OTHER's line (1 = some
                             other registered view) instead of TAG's
        lookup_two_lines     `lsview TAG` prints its line twice
        lookup_root[=PATH]   `lsview TAG` prints PATH (1 = /) as the storage
        lookup_trailing_blanks  `lsview TAG` ends its line in blanks and a tab
        owner_domain=DOM     owner and group names print as DOM/NAME (a DOM
                             ending in / or \ is used as it is: DOM\NAME)
        no_owner, no_group   lsview -properties leaves out "Owner:" / "Group:"
      Command-wide:
        listing_fail[=TEXT]  lsview without tags fails
        truncate=N           lsview output is cut after N bytes
        garbage              binary junk (NUL, 0xFF, lone CR) in lsview output
        crlf                 all cleartool output uses CR LF line ends
        slow_ms=N            every cleartool call sleeps N ms first
        hang[=SECONDS]       every cleartool call sleeps (1 = one hour)
        fixprot_exit=N       every fix_prot call fails with status N
        fixprot_sleep_ms=N   every fix_prot call sleeps N ms first
        fixprot_noexec       etc/utils/fix_prot loses its execute bits
        fixprot_dir          etc/utils/fix_prot becomes a directory
                             (clear-faults puts the program back)
        slow_listing_ms=N    lsview -long writes record by record over N ms
        stall_ms=N           lsview -long writes half, is silent N ms, then the rest
        listing_stderr_only[=TEXT]  lsview -long (no tags) lists nothing,
                             prints TEXT on stderr and exits 0
        listing_warning[=TEXT]  lsview -long (no tags) also prints
                             "cleartool: Warning: TEXT" on stderr
        short_fail[=TEXT]    lsview -short fails with TEXT; -long still works
        owner_domain=DOM, no_owner, no_group   as per view, for every view
        ssh_unreachable=HOST[,HOST...]  ssh to HOST: "Connection timed out", 255
        ssh_delay_ms=N       every ssh call waits N ms before connecting
        ssh_timeout_ms=N     an ssh to an ssh_unreachable HOST waits N ms
                             before timing out (as ssh's ConnectTimeout)
        ssh_hang=HOST[,HOST...]  ssh to HOST connects, then hangs (an hour)
        ssh_keep_fds         ssh keeps the descriptors it inherited; by
                             default it closes all above 2, as OpenSSH does
        no_flock=HOST[,HOST...]  flock(1) is not on PATH on HOST
        sudo_password        sudo says "a password is required" and exits 1
        unknown_account=NAME[,NAME...]  no simulated host knows these users
                             or groups: fix_prot -chown/-chgrp and find
                             -user/-group refuse them
        find_sleep_ms=N      (also per view) the find stand-in's walk of a
                             storage takes N ms more
        sudo_allow=PROGRAM[,PROGRAM...]  sudo runs these programs alone (by
                             base name) and refuses any other, as a sudoers
                             rule that names programs
        storage_unreadable   (per view) below the storage's top, find run
                             as any account but the simulated root is
                             refused ("Permission denied")
        endless[=line|lines] (also per view) lsview goes on writing until its
                             reader goes away: one endless line, or endless
                             short lines
      In every TEXT the two characters \n print as a line break, so one
      error can span two lines. lsview_fail, catcs_fail, endview_fail and
      listing_fail take such TEXT too.
  ccsim clear-faults HOME
  ccsim break-storage HOME [TAG] [--mode] [--owner] [--identity] [--groups]
      Break every (or one) view's storage again, in the ways named, or in
      all three kinds of damage by default: --mode (config_spec its owner
      cannot write, a world-writable .pid), --owner (db/view_db.dbd owned
      by nobody), --identity (no .identity). --groups gives the identity
      two additional groups (group.2001 ccdev, group.2002 ccqa): not
      damage, but fix_prot removes them.
  ccsim owner HOME TAG RELPATH [OWNER[:GROUP]]
      Show or set the simulated owner and group of an entry of the view's
      storage (RELPATH . is the storage itself; a RELPATH ending in / that
      does not exist is made a directory, else a file). fix_prot -chown
      -chgrp gives every entry of the storage those it names.
  ccsim journal HOME [--clear]
      Print the call journal: time (ms), pid, program, arguments (programs:
      cleartool, fix_prot, ssh, sudo). The end of each fix_prot that
      returned (time, pid, exit status) is in HOME/var/ccsim/ends, not
      shown here. --clear empties both.
  ccsim --help

Stand-ins for remote runs (copied into every home):
  HOME/var/ccsim/bin/ssh [-o OPT]... [-n] HOST COMMAND...
      Joins COMMAND's words with blanks and runs them with /bin/sh -c, with
      CCSIM_HOST=HOST, CCSIM_ROOT=0 (not root), and HOME/var/ccsim/bin first in
      PATH. HOST must be a registered view's host, the local host or
      localhost, else: "Could not resolve hostname", exit 255.
  HOME/var/ccsim/bin/sudo [-n] [--] COMMAND [ARG]...
      Runs COMMAND with CCSIM_ROOT=1.
  HOME/var/ccsim/bin/find PATH... [EXPRESSION]
      find's POSIX subset for ownership inspections (( ) ! -a -o -path
      -name -prune -print -type -user -group), seeing simulated ownership.
)";

// Quotes a word for a POSIX shell, unless it is plain.
std::string shellQuote(const std::string& s) {
    if (!s.empty() && s.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                          "0123456789_-./+:@%,=") == std::string::npos)
        return s;
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

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
    if (const std::string* name = a.get("local-host"))
        home.setLocalHost(*name);
    home.setStrict(!a.has("lenient"));
    std::string hint = "CLEARCASEHOME=" + shellQuote(home.dir()) + " ";
    if (home.strict())
        hint += "TESSALY_SSH=" + shellQuote(home.sshPath()) +
                " TESSALY_SUDO=" + shellQuote(home.sudoPath() + " -n") + " ";
    // The ccsim tool lives in <build>/ccsim-bin; Tessaly in <build>/src.
    const std::string build = detail::dirName(detail::dirName(detail::selfExe()));
    const std::string tessaly = build + "/src/tessaly";
    std::printf("ccsim home ready: %s (%zu views)\n", home.dir().c_str(), home.views().size());
    if (!detail::exists(tessaly))
        std::printf("Build Tessaly first: cmake --build %s --target tessaly\n",
                    shellQuote(build).c_str());
    std::printf("Start Tessaly on it: %s%s\n", hint.c_str(), shellQuote(tessaly).c_str());
    return 0;
}

int cmdStrict(const Args& a) {
    if (a.positional.size() != 2 || (a.positional[1] != "on" && a.positional[1] != "off"))
        return usageError("strict needs HOME and on or off");
    Home(a.positional[0]).setStrict(a.positional[1] == "on");
    return 0;
}

int cmdLocalHost(const Args& a) {
    if (a.positional.empty() || a.positional.size() > 2)
        return usageError("local-host needs HOME [NAME]");
    Home home(a.positional[0]);
    if (a.positional.size() == 2)
        home.setLocalHost(a.positional[1]);
    else
        std::printf("%s\n", home.localHost().c_str());
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
    if (a.has("group"))
        v.group = *a.get("group");
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

// owner HOME TAG RELPATH [OWNER[:GROUP]]: shows or sets an entry's
// simulated owner and group.
int cmdOwner(const Args& a) {
    if (a.positional.size() != 3 && a.positional.size() != 4)
        return usageError("owner needs HOME TAG RELPATH [OWNER[:GROUP]]");
    Home home(a.positional[0]);
    const std::string& tag = a.positional[1];
    const std::string& rel = a.positional[2] == "." ? std::string() : a.positional[2];
    if (a.positional.size() == 3) {
        std::printf("%s\n", home.ownerOf(tag, rel).c_str());
        return 0;
    }
    const std::string& spec = a.positional[3];
    const std::size_t colon = spec.find(':');
    const auto view = home.find(tag);
    const std::string group = colon != std::string::npos ? spec.substr(colon + 1)
                              : view                     ? view->group
                                                         : std::string();
    home.setOwner(tag, rel, spec.substr(0, colon), group);
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
        withValue = {"views", "hosts", "seed", "local-host"};
        flags = {"demo", "no-storage", "shuffle", "force", "strict", "lenient"};
    } else if (cmd == "add-view") {
        withValue = {"tag", "host", "region", "owner", "group", "config-spec-file"};
        flags = {"active", "snapshot", "ucm"};
    } else if (cmd == "fault") {
        withValue = {"view"};
    } else if (cmd == "journal") {
        flags = {"clear"};
    } else if (cmd == "break-storage") {
        flags = {"mode", "owner", "identity", "groups"};
    } else if (cmd != "list" && cmd != "clear-faults" && cmd != "strict" && cmd != "local-host" &&
               cmd != "owner") {
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
    if (cmd == "strict")
        return cmdStrict(a);
    if (cmd == "local-host")
        return cmdLocalHost(a);
    if (cmd == "owner")
        return cmdOwner(a);
    if (a.positional.empty() || a.positional.size() > (cmd == "break-storage" ? 2u : 1u))
        return usageError(cmd + " needs HOME" + (cmd == "break-storage" ? " [TAG]" : ""));
    Home home(a.positional[0]);
    if (cmd == "clear-faults")
        home.clearFaults();
    else {
        unsigned kinds = 0;
        kinds |= a.get("mode") ? Home::BreakMode : 0u;
        kinds |= a.get("owner") ? Home::BreakOwner : 0u;
        kinds |= a.get("identity") ? Home::BreakIdentity : 0u;
        kinds |= a.get("groups") ? Home::BreakGroups : 0u;
        home.breakStorage(a.positional.size() == 2 ? a.positional[1] : std::string(),
                          kinds ? kinds : unsigned(Home::BreakDamage));
    }
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
