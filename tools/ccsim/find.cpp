// SPDX-License-Identifier: Apache-2.0
// Stand-in for find, installed as <home>/var/ccsim/bin/find (first in PATH
// on the simulated hosts, see the ssh stand-in), so that an inspection of
// a storage sees the ownership the simulator records (see Home::setOwner).
//
//   find PATH... [EXPRESSION]
//
// The subset a storage inspection needs: the operands ( ), !, -a, -o and
// the primaries -path, -name, -prune, -print, -type, -user, -group, -perm
// (MODE, -MODE, /MODE in octal) and GNU's -printf (%m %u %g %y %p, \0 \t
// \n \\); with no -print or -printf the expression is ( EXPRESSION )
// -print. It does not follow symlinks. An entry inside a registered view's
// storage shows its simulated owner and group; any other its real ones.
// -user and -group take the names the simulated hosts know (see
// knownAccount); an unknown one ends it before anything is read, with GNU
// find's message and exit status 1. Fault find_sleep_ms=N (command-wide or
// per view): the walk of a view's storage takes N ms more, once it goes
// below the top. Fault storage_unreadable (per view): unless run as the
// simulated root, the directories below the storage's top cannot be read,
// as when they belong to an account the caller is not.
#include "internal.h"

#include <fnmatch.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace ccsim;
using namespace ccsim::detail;

namespace {

struct Entry {
    const std::string& path;
    const struct stat& st;
    const Owner& owner;
    bool prune = false;
};

struct Node {
    enum Kind {
        And,
        Or,
        Not,
        Path,
        Name,
        Prune,
        Print,
        Printf,
        Type,
        User,
        Group,
        Perm,
        True
    } kind = True;
    std::unique_ptr<Node> a, b;
    std::string arg;

    bool eval(Entry& e, std::string& out) const {
        switch (kind) {
        case And:
            return a->eval(e, out) && b->eval(e, out);
        case Or:
            return a->eval(e, out) || b->eval(e, out);
        case Not:
            return !a->eval(e, out);
        case Path:
            return ::fnmatch(arg.c_str(), e.path.c_str(), 0) == 0;
        case Name: {
            const std::size_t slash = e.path.find_last_of('/');
            const std::string base = slash == std::string::npos || e.path.size() == 1
                                         ? e.path
                                         : e.path.substr(slash + 1);
            return ::fnmatch(arg.c_str(), base.c_str(), 0) == 0;
        }
        case Prune:
            e.prune = true;
            return true;
        case Print:
            out += e.path;
            out += '\n';
            return true;
        case Printf:
            printf(e, out);
            return true;
        case Type:
            return arg.size() == 1 && typeLetter(e.st.st_mode) == arg[0];
        case Perm: {
            const mode_t m = e.st.st_mode & 07777;
            return arg[0] == '-' ? (m & perm) == perm : arg[0] == '/' ? (m & perm) != 0 : m == perm;
        }
        case User:
            return e.owner.owner == arg || std::to_string(e.st.st_uid) == arg;
        case Group:
            return e.owner.group == arg || std::to_string(e.st.st_gid) == arg;
        case True:
            return true;
        }
        return false;
    }

    static char typeLetter(mode_t m) {
        return S_ISDIR(m)    ? 'd'
               : S_ISREG(m)  ? 'f'
               : S_ISLNK(m)  ? 'l'
               : S_ISFIFO(m) ? 'p'
               : S_ISSOCK(m) ? 's'
                             : 'b';
    }

    void printf(const Entry& e, std::string& out) const {
        for (std::size_t k = 0; k < arg.size(); ++k) {
            const char c = arg[k];
            if ((c != '%' && c != '\\') || k + 1 == arg.size()) {
                out += c;
                continue;
            }
            const char d = arg[++k];
            if (c == '\\') {
                out += d == '0' ? '\0' : d == 't' ? '\t' : d == 'n' ? '\n' : d;
                continue;
            }
            char buf[16];
            switch (d) {
            case 'm':
                std::snprintf(buf, sizeof buf, "%o", unsigned(e.st.st_mode & 07777));
                out += buf;
                break;
            case 'u':
                out += e.owner.owner;
                break;
            case 'g':
                out += e.owner.group;
                break;
            case 'y':
                out += typeLetter(e.st.st_mode);
                break;
            case 'p':
                out += e.path;
                break;
            default:
                out += '%';
                out += d;
            }
        }
    }

    mode_t perm = 0;
};

struct Parser {
    char** argv;
    int argc;
    int i;
    const Registry& reg;
    const Faults& faults;
    bool printSeen = false;
    std::string error;

    bool more() const { return i < argc; }
    std::string_view peek() const { return argv[i]; }

    std::unique_ptr<Node> orExpr() {
        auto left = andExpr();
        while (left && more() && peek() == "-o") {
            ++i;
            auto n = std::make_unique<Node>();
            n->kind = Node::Or;
            n->a = std::move(left);
            n->b = andExpr();
            if (!n->b)
                return nullptr;
            left = std::move(n);
        }
        return left;
    }
    std::unique_ptr<Node> andExpr() {
        auto left = unary();
        while (left && more() && peek() != "-o" && peek() != ")") {
            if (peek() == "-a")
                ++i;
            auto n = std::make_unique<Node>();
            n->kind = Node::And;
            n->a = std::move(left);
            n->b = unary();
            if (!n->b)
                return nullptr;
            left = std::move(n);
        }
        return left;
    }
    std::unique_ptr<Node> unary() {
        if (!more()) {
            error = "expected an expression";
            return nullptr;
        }
        const std::string a = argv[i++];
        auto n = std::make_unique<Node>();
        if (a == "!") {
            n->kind = Node::Not;
            n->a = unary();
            return n->a ? std::move(n) : nullptr;
        }
        if (a == "(") {
            auto inner = orExpr();
            if (!inner)
                return nullptr;
            if (!more() || peek() != ")") {
                error = "invalid expression; I was expecting to find a ')' somewhere";
                return nullptr;
            }
            ++i;
            return inner;
        }
        const auto value = [&]() -> bool {
            if (!more()) {
                error = "missing argument to `" + a + "'";
                return false;
            }
            n->arg = argv[i++];
            return true;
        };
        if (a == "-prune")
            n->kind = Node::Prune;
        else if (a == "-print") {
            n->kind = Node::Print;
            printSeen = true;
        } else if (a == "-printf") {
            if (!value())
                return nullptr;
            n->kind = Node::Printf;
            printSeen = true;
        } else if (a == "-perm") {
            if (!value())
                return nullptr;
            n->kind = Node::Perm;
            const std::string_view digits =
                std::string_view(n->arg).substr(n->arg[0] == '-' || n->arg[0] == '/' ? 1 : 0);
            std::uint64_t m = 0;
            if (digits.empty() || digits.size() > 4 ||
                digits.find_first_not_of("01234567") != std::string_view::npos) {
                error = "invalid mode \u2018" + n->arg + "\u2019 (the simulator knows octal ones)";
                return nullptr;
            }
            for (const char c : digits)
                m = m * 8 + std::uint64_t(c - '0');
            n->perm = mode_t(m);
        } else if (a == "-path" || a == "-name" || a == "-type" || a == "-user" || a == "-group") {
            if (!value())
                return nullptr;
            n->kind = a == "-path"   ? Node::Path
                      : a == "-name" ? Node::Name
                      : a == "-type" ? Node::Type
                      : a == "-user" ? Node::User
                                     : Node::Group;
            if (n->kind == Node::User && !knownAccount(reg, faults, true, n->arg)) {
                error = "\u2018" + n->arg + "\u2019 is not the name of a known user";
                return nullptr;
            }
            if (n->kind == Node::Group && !knownAccount(reg, faults, false, n->arg)) {
                error = "\u2018" + n->arg + "\u2019 is not the name of an existing group";
                return nullptr;
            }
        } else {
            error = "unknown predicate `" + a + "'";
            return nullptr;
        }
        return n;
    }
};

// Root as the sudo stand-in marks it (1), not root as the ssh stand-in
// marks the remote account (0); unmarked, the real account decides.
bool simulatedRoot() {
    const char* root = std::getenv(kRootEnv);
    return root ? std::string_view(root) == "1" : ::geteuid() == 0;
}

struct Walker {
    const Paths& paths;
    const Registry& reg;
    const Faults& faults;
    const Node& expr;
    std::string out;
    int status = 0;

    void flush() {
        if (out.empty())
            return;
        try {
            writeAll(1, out);
        } catch (const Error&) {
            ::_exit(141); // the reader has gone, as a SIGPIPE would end it
        }
        out.clear();
    }

    void report(const std::string& text) {
        flush();
        try {
            writeAll(2, "find: " + text + "\n");
        } catch (const Error&) {
        }
        status = 1;
    }

    // owners: the records of the storage path lies in, null outside one.
    void walk(const std::string& path, const OwnerMap* owners, const Record* view,
              const std::string& rel) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            report("\u2018" + path + "\u2019: " + errnoText(errno));
            return;
        }
        const Owner owner = owners ? ownerOf(*owners, rel, st) : ownerOf(OwnerMap{}, rel, st);
        Entry e{path, st, owner};
        expr.eval(e, out);
        if (out.size() > 65536)
            flush();
        if (!S_ISDIR(st.st_mode) || e.prune)
            return;
        std::vector<std::string> names;
        if (view && !rel.empty() && !simulatedRoot() &&
            faults.get(view->tag, "storage_unreadable")) {
            report("\u2018" + path + "\u2019: Permission denied");
            return;
        }
        if (!listDirectory(path, names)) {
            report("\u2018" + path + "\u2019: " + errnoText(errno));
            return;
        }
        if (view && rel.empty() && !names.empty()) {
            std::uint64_t ms = 0;
            const std::string* v = faults.get(view->tag, "find_sleep_ms");
            if (!v)
                v = faults.get("find_sleep_ms");
            if (v && parseUint(*v, ms))
                sleepMs(ms);
        }
        for (const std::string& n : names) {
            const std::string child = path == "/" ? "/" + n : path + "/" + n;
            walk(child, owners, view, rel.empty() ? n : rel + "/" + n);
        }
    }
};

int run(int argc, char** argv) {
    const Paths paths{findHome(3)};
    appendJournal(paths.journal(), "find", argc, argv);
    const Faults faults = loadFaults(paths.faults());
    const Registry reg = loadRegistry(paths.registry());
    int i = 1;
    std::vector<std::string> starts;
    for (; i < argc; ++i) {
        const std::string_view a = argv[i];
        if ((a.size() > 1 && a[0] == '-') || a == "!" || a == "(")
            break;
        starts.emplace_back(a);
    }
    if (starts.empty())
        starts.emplace_back(".");
    Parser parser{argv, argc, i, reg, faults, false, {}};
    std::unique_ptr<Node> expr;
    if (i < argc) {
        expr = parser.orExpr();
        if (expr && parser.more())
            parser.error = "paths must precede expression: `" + std::string(parser.peek()) + "'";
        if (!parser.error.empty()) {
            writeAll(2, "find: " + parser.error + "\n");
            return 1;
        }
    } else {
        expr = std::make_unique<Node>();
    }
    if (!parser.printSeen) {
        auto print = std::make_unique<Node>();
        print->kind = Node::Print;
        auto both = std::make_unique<Node>();
        both->kind = Node::And;
        both->a = std::move(expr);
        both->b = std::move(print);
        expr = std::move(both);
    }
    Walker w{paths, reg, faults, *expr, {}, 0};
    for (const std::string& start : starts) {
        std::string resolved, rel;
        try {
            resolved = realPath(start);
        } catch (const Error&) {
            resolved.clear();
        }
        const Record* view = resolved.empty() ? nullptr : storageHolding(reg, resolved, rel);
        if (view) {
            const OwnerMap owners = ownersOf(paths, *view);
            w.walk(start, &owners, view, rel);
        } else {
            w.walk(start, nullptr, nullptr, rel);
        }
    }
    w.flush();
    return w.status;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        try {
            writeAll(2, std::string("find: ") + e.what() + "\n");
        } catch (const Error&) {
        }
        return 1;
    }
}
