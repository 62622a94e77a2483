// SPDX-License-Identifier: Apache-2.0
// The call journal: <home>/var/ccsim/journal.
//
// One line per call, tab-separated escaped fields:
//   TIME_MS  PID  PROGRAM  ARG1  ARG2 ...
// Each line is appended with a single write() on an O_APPEND descriptor, so
// concurrent calls never interleave within a line.
//
// <home>/var/ccsim/ends has the same format: fix_prot appends
//   TIME_MS  PID  fix_prot  STATUS
// when it returns, so a start and its end pair up by pid.
#include "internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace ccsim::detail {

namespace {

// Appends one escaped line: TIME_MS PID PROGRAM WORDS...
void appendLine(const std::string& path, std::string_view program,
                const std::vector<std::string_view>& words) {
    std::string line =
        std::to_string(nowMs()) + '\t' + std::to_string(::getpid()) + '\t' + escapeField(program);
    for (const std::string_view w : words) {
        line += '\t';
        line += escapeField(w);
    }
    line += '\n';
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        throw Error("cannot open journal " + printable(path) + ": " + errnoText(errno));
    ssize_t n;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    const int err = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(line.size()))
        throw Error("cannot write journal " + printable(path) + ": " +
                    (n < 0 ? errnoText(err) : std::string("short write")));
}

} // namespace

void appendJournal(const std::string& path, std::string_view program, int argc,
                   const char* const* argv) {
    std::vector<std::string_view> words;
    for (int i = 1; i < argc; ++i)
        words.emplace_back(argv[i]);
    appendLine(path, program, words);
}

void appendEnd(const std::string& path, std::string_view program, int status) {
    const std::string text = std::to_string(status);
    appendLine(path, program, {text});
}

std::vector<JournalEntry> readJournal(const std::string& path) {
    std::vector<JournalEntry> out;
    std::string data;
    if (!readFileIfExists(path, data))
        return out;
    std::size_t pos = 0, lineNo = 0;
    while (pos < data.size()) {
        ++lineNo;
        std::size_t end = data.find('\n', pos);
        if (end == std::string::npos) // a call still writing, or a torn file: ignore the tail
            break;
        const std::string_view line = std::string_view(data).substr(pos, end - pos);
        pos = end + 1;
        const auto damaged = [&] {
            return Error("journal " + printable(path) + " is damaged at line " +
                         std::to_string(lineNo));
        };
        const auto parts = splitTabs(line);
        if (parts.size() < 3)
            throw damaged();
        JournalEntry e;
        std::uint64_t t = 0, pid = 0;
        if (!parseUint(parts[0], t) || !parseUint(parts[1], pid))
            throw damaged();
        e.timeMs = static_cast<std::int64_t>(t);
        e.pid = static_cast<int>(pid);
        if (!unescapeField(parts[2], e.program))
            throw damaged();
        for (std::size_t i = 3; i < parts.size(); ++i) {
            std::string arg;
            if (!unescapeField(parts[i], arg))
                throw damaged();
            e.args.push_back(std::move(arg));
        }
        out.push_back(std::move(e));
    }
    return out;
}

} // namespace ccsim::detail
