// SPDX-License-Identifier: Apache-2.0
// ccsim: a small ClearCase simulator for developing and testing Tessaly
// without a ClearCase installation.
//
// A simulated "home" is a directory laid out like $CLEARCASEHOME:
//
//   <home>/bin/cleartool            stand-in for cleartool (lsview, catcs, endview)
//   <home>/etc/utils/fix_prot       stand-in for fix_prot (really fixes permissions)
//   <home>/var/ccsim/registry       the view registry (one view per line)
//   <home>/var/ccsim/faults         injected faults
//   <home>/var/ccsim/journal        one line per call of either stand-in
//   <home>/var/ccsim/ends           one line per fix_prot that returned (its status)
//   <home>/var/ccsim/storage/<host>/<tag>.vws   view storage directories
//   <home>/var/ccsim/bin/ssh, .../sudo   stand-ins for ssh and sudo (not in bin/,
//                                        which holds only what ClearCase has)
//   <home>/var/ccsim/strict         present: strict UNIX mode (see Home::setStrict)
//   <home>/var/ccsim/local_host     the simulated name of this machine
//   <home>/var/ccsim/net/<host>     links to storage/<host>: global paths in strict mode
//
// The stand-ins find their home from their own location, so
// `CLEARCASEHOME=<home> tessaly` behaves as on a ClearCase host. This library
// is plain C++20 + POSIX (no Qt) and is what the stand-ins, the `ccsim`
// admin tool and the tests are built on. Every failure is reported by
// throwing ccsim::Error with a readable message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ccsim {

// Thrown for every failure: bad tags, damaged files, missing homes, I/O errors.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One registered view.
struct View {
    std::string tag;
    std::string host;
    std::string region = "sim";
    std::string owner = "ccadm";
    std::string group = "ccusers"; // the view's group, printed by lsview -properties
    // Config spec text as `catcs` prints it. Empty on add means a default
    // "element * CHECKEDOUT / element * /main/LATEST" spec.
    std::string configSpec;
    bool active = false;
    bool snapshot = false;
    bool ucm = false;
    // Absolute storage directory. Filled in by Home::addView (which creates
    // it under <home>/var/ccsim/storage/<host>/<tag>.vws); if set before
    // addView, that directory is used (and created if missing) instead.
    std::string storage;
    // View uuid, filled in by addView (derived from tag and host).
    std::string uuid;
};

// One call of a stand-in, as recorded before it does any work.
struct JournalEntry {
    std::int64_t timeMs = 0; // wall clock, milliseconds since the epoch
    int pid = 0;
    std::string program;           // "cleartool", "fix_prot", "ssh" or "sudo"
    std::vector<std::string> args; // argv[1..]
};

// A fault injected into the stand-ins. tag empty = command-wide.
struct Fault {
    std::string tag;
    std::string name;
    std::string value;
};

struct GenerateOptions {
    std::uint64_t seed = 1;             // same seed, same views
    std::size_t hosts = 4;              // number of server hosts (ccview01, ccview02, ...)
    std::vector<std::string> hostNames; // if non-empty, used instead of `hosts`
    bool storage = true;                // false: register only, create no directories (benchmarks)
    bool shuffle = false;               // false: registry written sorted by tag; true: random order
    // With storage: the share of the storages left broken as a new one is
    // (see addView), spread evenly over the registry's order; the others
    // are made sound, as fixStorage leaves them. A site of many views is
    // made at once this way, without a fixStorage call (and a registry
    // read) per view.
    double broken = 1.0;
};

class Home {
public:
    // Lays out a fresh home in `dir` (created if missing; may contain blanks):
    // copies of the built stand-ins, an empty registry, no faults, no journal.
    // Throws if `dir` already is a ccsim home.
    static Home create(const std::string& dir);

    // Opens an existing home; throws if `dir` is not one.
    explicit Home(std::string dir);

    const std::string& dir() const { return dir_; } // absolute, symlinks resolved
    std::string cleartoolPath() const;
    std::string fixProtPath() const;
    std::string registryPath() const;
    std::string faultsPath() const;
    std::string journalPath() const;
    std::string endsPath() const; // <home>/var/ccsim/ends
    std::string storageRoot() const;
    std::string sshPath() const;  // <home>/var/ccsim/bin/ssh
    std::string sudoPath() const; // <home>/var/ccsim/bin/sudo

    // Strict UNIX mode, off by default. When on:
    //  - fix_prot refuses -recover, refuses -root without both -chown and
    //    -chgrp, and refuses to run unless as root (CCSIM_ROOT=1, set by the
    //    sudo stand-in; unset, the real account decides; the ssh stand-in
    //    sets 0 for its account) and on the host of the view whose
    //    storage it is given (CCSIM_HOST, set by the ssh stand-in, else
    //    localHost()); -chown/-chgrp also take the owners and groups of
    //    registered views, and change ownership only where that is real;
    //  - cleartool prints as a view's global path another real path to its
    //    storage, <home>/var/ccsim/net/<host>/<tag>.vws, while "View server
    //    access path:" stays the storage directory itself.
    // Stored as the file <home>/var/ccsim/strict.
    void setStrict(bool on);
    bool strict() const;
    // The simulated name of this machine (where fix_prot runs without ssh).
    // Empty resets it to the short name gethostname() gives.
    void setLocalHost(const std::string& name);
    std::string localHost() const;
    // Where the storage locks of host are kept: the ssh stand-in gives it
    // to the remote command as TESSALY_HOST_LOCK_DIR. Not made here.
    std::string hostLockDir(const std::string& host) const;
    // The global path cleartool prints for the view (see setStrict).
    std::string globalPath(const std::string& tag) const;
    // The same for a view as views() or find() gave it, without reading
    // the registry again.
    std::string globalPath(const View& v) const;

    // Registers a view and creates its storage directory, filled with files
    // whose permissions are broken (see storageFixed). Rejects empty tags,
    // tags with '/', NUL, CR or LF, and duplicates (tags are case-sensitive,
    // as on UNIX: "Rel_Build" and "rel_build" are two views). Returns the
    // view as stored.
    View addView(View v);
    std::vector<View> views() const; // in registry order
    std::optional<View> find(const std::string& tag) const;

    // Faults (names listed in README.md / `ccsim --help`). Unknown names,
    // malformed values and per-view faults for unregistered tags are rejected.
    // fixprot_noexec and fixprot_dir change etc/utils/fix_prot itself (no
    // execute bit; a directory in its place); clearFaults puts it back.
    void setFault(const std::string& name, const std::string& value = "1");
    void setViewFault(const std::string& tag, const std::string& name,
                      const std::string& value = "1");
    void clearFaults();
    std::vector<Fault> faults() const;

    std::vector<JournalEntry> journal() const;
    // One entry per fix_prot call that returned (whatever its exit status;
    // none for one a crash fault killed): its end time, the pid of its
    // journal entry, program "fix_prot" and args {STATUS}. In end order.
    std::vector<JournalEntry> ends() const;
    // Empties the journal and the end records.
    void clearJournal();

    // True if every entry under the view's storage has the permissions
    // fix_prot sets: directories 0775, files 0664 (0775 if owner-executable),
    // .identity/uid 04400 and .identity/gid 02410.
    // False if the storage is missing or anything else is found.
    bool storageFixed(const std::string& tag) const;

    // Simulated ownership of a view's storage entries, as the find stand-in
    // and fix_prot see it (real chown needs real accounts, which the
    // views' owners mostly are not). rel is relative to the storage, ""
    // for the storage itself. A storage starts owned by its view's owner
    // and group; fix_prot -chown/-chgrp gives every entry those it names.
    // setOwner creates the entry if it is missing (a directory when rel
    // ends in '/', a file otherwise; missing parents as directories).
    void setOwner(const std::string& tag, const std::string& rel, const std::string& owner,
                  const std::string& group);
    // "OWNER:GROUP" of the entry; throws if it does not exist.
    std::string ownerOf(const std::string& tag, const std::string& rel) const;

    // What breakStorage breaks. Mode: entries their owner cannot write
    // (config_spec 0400) and world-writable ones (.pid 0666). Owner: an
    // entry of a stray owner. Identity: no .identity. Groups: additional
    // groups in the identity (group.2001 ccdev, group.2002 ccqa), which
    // are not damage but are lost to fix_prot.
    enum BreakKind : unsigned {
        BreakMode = 1,
        BreakOwner = 2,
        BreakIdentity = 4,
        BreakGroups = 8,
        BreakDamage = BreakMode | BreakOwner | BreakIdentity,
    };
    // Breaks one view's storage (or every view's, if tag is empty) again in
    // the given ways, recreating missing storage directories.
    void breakStorage(const std::string& tag = {}, unsigned kinds = BreakMode);
    // Gives one view's storage what fix_prot -root -chown OWNER -chgrp
    // GROUP leaves: the modes it sets, its identity, its owner and group.
    void fixStorage(const std::string& tag);

    // Adds n plausible views (deterministic for a given seed).
    void generate(std::size_t n, const GenerateOptions& options = {});

    // Adds a few hundred plausible views on several hosts: developer, task,
    // integration, nightly-build, snapshot and UCM views, some of them active.
    void makeDemo();

    // Where Home::create copies the stand-ins from. By default: the directory
    // of the running program if it holds `cleartool`, `fix_prot`, `ccsim-ssh`
    // and `ccsim-sudo` (the `ccsim` tool), otherwise the build tree's programs.
    static void setProgramDir(const std::string& dir);

private:
    std::string dir_;
};

} // namespace ccsim
