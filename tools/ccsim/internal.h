// SPDX-License-Identifier: Apache-2.0
// Internals shared by the ccsim library, the stand-in programs and the tests.
#pragma once

#include "ccsim.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ccsim::detail {

// ---- text ---------------------------------------------------------------

// Field escaping used by every ccsim file: backslash, tab, CR, LF and other
// control bytes become \\, \t, \r, \n, \xHH; everything else (blanks, quotes,
// UTF-8, ...) is kept byte for byte.
std::string escapeField(std::string_view s);
// Returns false on a malformed escape.
bool unescapeField(std::string_view s, std::string& out);
// Splits a line at tabs.
std::vector<std::string_view> splitTabs(std::string_view line);

// Non-negative decimal integer, whole string; false otherwise.
bool parseUint(std::string_view s, std::uint64_t& out);
// Number of UTF-8 code points (for column alignment).
std::size_t displayWidth(std::string_view s);
std::uint64_t fnv1a(std::string_view s);
// Replaces every LF by CR LF.
std::string toCrlf(std::string_view s);
// Quotes a string for messages, showing control bytes as \xHH.
std::string printable(std::string_view s);
// A fault's message text as printed: the two characters "\n" become a line break.
std::string expandText(std::string_view s);

// ---- files --------------------------------------------------------------

std::string readFile(const std::string& path);                        // throws Error
bool readFileIfExists(const std::string& path, std::string& out);     // throws on other errors
void writeFileAtomic(const std::string& path, std::string_view data); // temp + rename
void writeAll(int fd, std::string_view data);               // loops over partial writes; throws
void makeDirs(const std::string& path, mode_t mode = 0755); // mkdir -p; throws
bool isDir(const std::string& path);
bool exists(const std::string& path);
std::string dirName(const std::string& path);
std::string realPath(const std::string& path); // throws
std::string selfExe();                         // /proc/self/exe, resolved
// The entries of dir but "." and ".."; false (errno set) when it cannot be read.
bool listDirectory(const std::string& dir, std::vector<std::string>& names);
void removeTree(const std::string& path); // rm -rf, fixing permissions on the way
// Writes a new file (replacing any) with data, then gives it mode.
void writeNew(const std::string& path, std::string_view data, mode_t mode);
void copyExecutable(const std::string& from, const std::string& to);
std::int64_t nowMs();
void sleepMs(std::uint64_t ms);
std::string errnoText(int err);

// Exclusive flock on a lock file, held for the object's lifetime.
class FileLock {
public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};

// ---- home layout --------------------------------------------------------

struct Paths {
    std::string home;
    std::string var() const { return home + "/var/ccsim"; }
    std::string registry() const { return var() + "/registry"; }
    std::string lock() const { return var() + "/lock"; }
    std::string faults() const { return var() + "/faults"; }
    std::string journal() const { return var() + "/journal"; }
    // fix_prot's end records, in the journal's format (see appendEnd).
    std::string ends() const { return var() + "/ends"; }
    std::string storage() const { return var() + "/storage"; }
    // Global paths in strict mode: net/<host> links to storage/<host>.
    std::string net() const { return var() + "/net"; }
    std::string bin() const { return var() + "/bin"; } // the ssh and sudo stand-ins
    // Each simulated host's own directory for the storage locks that the
    // remote command takes there (TESSALY_HOST_LOCK_DIR on that host).
    std::string hostLocks(const std::string& host) const {
        return var() + "/hosts/" + host + "/locks";
    }
    // Copies of PATH's directories without flock, for hosts that lack it.
    std::string noFlock() const { return var() + "/noflock"; }
    std::string strict() const { return var() + "/strict"; }
    std::string localHost() const { return var() + "/local_host"; }
    // The simulated owners of storage entries, one file per storage.
    std::string owners() const { return var() + "/owners"; }
    std::string fixProt() const { return home + "/etc/utils/fix_prot"; }
    // Where fix_prot waits while the fixprot_dir fault puts a directory in its place.
    std::string savedFixProt() const { return var() + "/fix_prot.saved"; }
};

// Environment variables the stand-ins use to simulate privileges and hosts:
// sudo sets CCSIM_ROOT=1, ssh sets CCSIM_HOST=<host> and CCSIM_ROOT=0 (its
// account is not root). Real programs never do.
inline constexpr const char* kRootEnv = "CCSIM_ROOT";
inline constexpr const char* kHostEnv = "CCSIM_HOST";

// True if the home runs in strict UNIX mode (the file var/ccsim/strict exists).
bool strictMode(const Paths& paths);
// The simulated name of the machine the stand-ins run on when no ssh stand-in
// set CCSIM_HOST: the content of var/ccsim/local_host, or else the short name
// gethostname() gives.
std::string localHost(const Paths& paths);
// gethostname(), whole and cut at the first dot.
std::string systemHostName(bool shortName);
// The host a stand-in runs on: CCSIM_HOST if set and not empty, else localHost().
std::string currentHost(const Paths& paths);
// The global path cleartool prints for a storage directory: in strict mode
// a storage under var/ccsim/storage is shown through var/ccsim/net (another
// real path to the same directory); otherwise, and for storages elsewhere,
// the storage directory itself.
std::string globalPath(const Paths& paths, std::string_view storage, bool strict);
// Creates var/ccsim/net/<hostDir> -> ../storage/<hostDir> if missing.
void ensureNetLink(const Paths& paths, const std::string& hostDirName);

// Finds the home of a stand-in from its own path: `levels` directories up
// from the directory holding the executable (1 for bin/cleartool, 2 for
// etc/utils/fix_prot). Throws with a clear message if it is not a home.
std::string findHome(int levels);

// ---- registry -----------------------------------------------------------

// Fields point into Registry::data (or, when they held escapes, into
// Registry::unescaped), so parsing a big registry costs few allocations.
struct Record {
    std::string_view tag, host, region, owner, group, uuid, storage;
    bool active = false, snapshot = false, ucm = false;
    std::size_t flagOffset = 0;             // byte offset of the active flag in the file
    std::size_t csOffset = 0, csLength = 0; // escaped config spec inside the data
};

// A parsed registry file. Records refer into `data` for their config specs.
struct Registry {
    std::unique_ptr<std::string> data = std::make_unique<std::string>();
    std::vector<std::unique_ptr<std::string>> unescaped;
    std::vector<Record> records;
    std::string configSpec(const Record& r) const;  // unescaped; throws if damaged
    const Record* find(std::string_view tag) const; // linear
    std::vector<const Record*> sortedByTag() const;
};

inline constexpr std::string_view kRegistryHeader = "# ccsim registry 1\n";

Registry parseRegistry(std::string data, const std::string& pathForMessages); // throws
Registry loadRegistry(const std::string& path);                               // throws
std::string registryLine(const View& v);
View toView(const Registry& reg, const Record& r);
// Throws Error unless the tag is usable (non-empty, no '/', NUL, CR, LF).
void validateTag(std::string_view tag);
void validateHost(std::string_view host);
std::string makeUuid(std::string_view tag, std::string_view host);
// Marks a view inactive in place under the home's lock. Returns false if the
// tag is not registered.
bool endView(const Paths& paths, std::string_view tag);

// ---- faults -------------------------------------------------------------

struct Faults {
    using Map = std::map<std::string, std::string, std::less<>>;
    Map global;
    std::map<std::string, Map, std::less<>> perView;
    const std::string* get(std::string_view name) const;
    const std::string* get(std::string_view tag, std::string_view name) const;
};

Faults loadFaults(const std::string& path); // missing file = no faults; throws on damage
void saveFaults(const std::string& path, const Faults& f);
// Throws Error for unknown names or malformed values.
void validateFault(bool perView, const std::string& name, const std::string& value);
extern const char* const kViewFaultNames[];
extern const char* const kGlobalFaultNames[];

// ---- journal ------------------------------------------------------------

void appendJournal(const std::string& path, std::string_view program, int argc,
                   const char* const* argv);
// Appends "TIME_MS PID PROGRAM STATUS" (a call's end, paired to its journal
// line by the pid); readJournal reads these files too.
void appendEnd(const std::string& path, std::string_view program, int status);
std::vector<JournalEntry> readJournal(const std::string& path);

// ---- storage ------------------------------------------------------------

// Turns a tag or host into a file name: '/', control bytes and DEL become
// %XX, "." and ".." are encoded, names too long for the file system are cut
// (at a UTF-8 boundary) and made unique with a hash.
std::string encodeFileName(std::string_view name, std::string_view suffix);
// Creates the storage layout with broken permissions.
void createStorage(const std::string& dir, const View& v);
// Re-breaks the permissions of an existing storage (recreating it if missing).
void breakStorage(const std::string& dir, const View& v);
// Creates a missing .identity (uid and gid) as fix_prot does.
void makeIdentity(const std::string& dir);
// The mode fix_prot gives the entry rel (relative to the storage).
bool isFixedMode(const std::string& rel, bool isDirectory, mode_t mode);
mode_t fixedMode(const std::string& rel, bool isDirectory, mode_t mode);

// Pre-order walk that does not follow symlinks. The callback sees each entry
// before its children are read, so it may open up a directory's permissions.
// Returns false (with a message) if something could not be read.
using WalkFn = std::function<bool(const std::string& path, const struct stat& st)>;
bool walkTree(const std::string& root, const WalkFn& fn, std::string& error);

// A -chmod argument: octal ("775", "0644") or symbolic ("go-w", "u+rwx,g+rx").
struct ChmodSpec {
    bool absolute = false;
    mode_t mode = 0;
    struct Clause {
        mode_t who;
        char op;
        mode_t perms;
        bool condExec;
    };
    std::vector<Clause> clauses;
    mode_t apply(mode_t current, bool isDirectory) const;
};
bool parseChmod(std::string_view text, ChmodSpec& out);

// ---- simulated ownership ------------------------------------------------

// The owner and group an entry shows. Where no real account of that name
// exists, or the simulator does not run as root, ownership is recorded
// rather than changed: a file per storage under var/ccsim/owners (outside
// the storage, so it is no entry of its own). Its lines are
// "RELPATH<tab>OWNER<tab>GROUP", RELPATH relative to the storage ("" for
// the storage itself), or "*" for every entry without a line of its own.
// An entry neither names shows its real owner and group.
struct Owner {
    std::string owner, group;
};
struct OwnerMap {
    std::optional<Owner> all;             // the "*" line
    std::map<std::string, Owner> entries; // by relative path
};
std::string ownersFile(const Paths& paths, std::string_view storage);
OwnerMap loadOwners(const std::string& file); // missing file = nothing recorded; throws on damage
void saveOwners(const std::string& file, const OwnerMap& m);
// The records of a registered view's storage; with none, every entry
// shows the view's owner and group (a storage as the view's server made it).
OwnerMap ownersOf(const Paths& paths, const Record& view);
// What an entry shows: its line, else the "*" line, else its real owner.
Owner ownerOf(const OwnerMap& m, const std::string& rel, const struct stat& st);
// The registered view whose storage holds path (resolved), with path's
// place below it in rel; null when none does.
const Record* storageHolding(const Registry& reg, const std::string& resolved, std::string& rel);
// Whether NAME is an account the simulated hosts know: a real one, a
// number, or a registered view's owner (user) or group, unless the
// unknown_account fault names it.
bool knownAccount(const Registry& reg, const Faults& faults, bool user, std::string_view name);

// ---- cleartool output ---------------------------------------------------

// Append one view's line / record to `out`.
// The default line: "* tag   path"; `trailing` goes between path and line end.
void lsviewDefaultLine(std::string& out, bool star, std::string_view tag, std::string_view path,
                       std::string_view trailing = {});
struct LongOptions {
    std::string_view globalPath; // "  Global path:" (the access path is the storage)
    bool noHost = false;         // leave out "  Server host:"
    const std::string* garble = nullptr;
    std::string_view domain; // prefix of owner and group names, "" for none
};
void lsviewLongRecord(std::string& out, const Record& r, const LongOptions& o);
struct PropertyOptions {
    bool full = false;
    std::string_view domain;
    bool noOwner = false, noGroup = false;
};
// The lines -properties [-full] adds after a view's line or record.
void lsviewProperties(std::string& out, const Record& r, const PropertyOptions& o);
// Mixes binary junk (NUL, 0xFF, lone CR) into a listing.
std::string addGarbage(std::string_view listing);

} // namespace ccsim::detail
