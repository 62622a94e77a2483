// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the repair unit (tessaly-wrap) and the program that starts it say
// to each other, written down once: the unit's options, the lines it
// reports, the record it leaves for a later run, and the lines the lock
// command on the storage's host writes to the unit. Plain C++ with no Qt:
// the unit is built from this header, and so is the launcher that reads
// the unit's reports.
//
// A report is one line, written in one write: a verb, and after a blank
// its number or its text. Text has its backslashes, line feeds and
// carriage returns escaped, so that it stays on its line.

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace tsy::unit {

// The unit's command line: tessaly-wrap OPTIONS -- PROGRAM [ARGS...]
namespace opt {
inline constexpr std::string_view report = "--report"; // FIFO, or "-": standard output
inline constexpr std::string_view tag = "--tag";
inline constexpr std::string_view lock = "--lock";          // the workstation's lock file
inline constexpr std::string_view hostLock = "--host-lock"; // PROGRAM locks on this host
inline constexpr std::string_view record = "--record";
inline constexpr std::string_view endview = "--endview"; // the cleartool to stop the server with
inline constexpr std::string_view endviewAfterFailure = "--endview-after-failure";
inline constexpr std::string_view remote = "--remote";          // PROGRAM is the remote shell
inline constexpr std::string_view terminal = "--terminal";      // the unit has a terminal
inline constexpr std::string_view keepErrors = "--keep-errors"; // first error line reported
inline constexpr std::string_view end = "--";
inline constexpr std::string_view reportToStdout = "-";
} // namespace opt

// What the unit reports, in the order it may report it.
enum class Verb {
    Busy,           // busy LOCK: a repair of the storage still holds its lock; nothing ran
    NoLock,         // nolock WHY: the lock cannot be taken; nothing ran
    Started,        // started PID: the program is at work
    Unlocked,       // unlocked WHY: no lock on the host; the workstation's lock only
    Message,        // message TEXT: the first line of the program's error output
    Exit,           // exit N
    Signal,         // signal N
    Failed,         // failed ERRNO: the program could not be started
    EndviewMessage, // endview message TEXT: cleartool's error output
    EndviewExit,    // endview exit N
    EndviewSignal,  // endview signal N
    EndviewFailed,  // endview failed ERRNO
    Done,           // done: the record is written and the lock released
};
inline constexpr Verb kVerbs[] = {
    Verb::Busy,           Verb::NoLock,      Verb::Started,       Verb::Unlocked,
    Verb::Message,        Verb::Exit,        Verb::Signal,        Verb::Failed,
    Verb::EndviewMessage, Verb::EndviewExit, Verb::EndviewSignal, Verb::EndviewFailed,
    Verb::Done,
};

struct Report {
    Verb verb = Verb::Done;
    long long number = 0; // PID, exit status, signal or errno
    std::string text;     // unescaped

    bool operator==(const Report&) const = default;
};

inline constexpr std::string_view verb_word(Verb v) {
    switch (v) {
    case Verb::Busy:
        return "busy";
    case Verb::NoLock:
        return "nolock";
    case Verb::Started:
        return "started";
    case Verb::Unlocked:
        return "unlocked";
    case Verb::Message:
        return "message";
    case Verb::Exit:
        return "exit";
    case Verb::Signal:
        return "signal";
    case Verb::Failed:
        return "failed";
    case Verb::EndviewMessage:
        return "endview message";
    case Verb::EndviewExit:
        return "endview exit";
    case Verb::EndviewSignal:
        return "endview signal";
    case Verb::EndviewFailed:
        return "endview failed";
    case Verb::Done:
        return "done";
    }
    return "done";
}

inline constexpr bool has_text(Verb v) {
    return v == Verb::Busy || v == Verb::NoLock || v == Verb::Unlocked || v == Verb::Message ||
           v == Verb::EndviewMessage;
}
inline constexpr bool has_number(Verb v) {
    return v != Verb::Done && !has_text(v);
}

inline std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

// escape undone; a backslash before any other character keeps that
// character, and one at the very end stays.
inline std::string unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char n = text[++i];
        out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    }
    return out;
}

// The report as its line, without the line feed.
inline std::string format(const Report& r) {
    std::string line(verb_word(r.verb));
    if (has_text(r.verb))
        line += ' ' + escape(r.text);
    else if (has_number(r.verb))
        line += ' ' + std::to_string(r.number);
    return line;
}

// A line read back; nothing for a line that is no report (an unknown
// verb, a number that is not one), which a reader skips.
inline std::optional<Report> parse(std::string_view line) {
    for (const Verb v : kVerbs) {
        const std::string_view word = verb_word(v);
        if (line.substr(0, word.size()) != word)
            continue;
        const std::string_view rest = line.substr(word.size());
        Report r;
        r.verb = v;
        if (v == Verb::Done) {
            if (!rest.empty())
                continue;
            return r;
        }
        if (rest.empty() || rest[0] != ' ')
            continue;
        const std::string_view value = rest.substr(1);
        if (has_text(v)) {
            r.text = unescape(value);
            return r;
        }
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), r.number);
        if (ec != std::errc() || end != value.data() + value.size() || value.empty())
            return std::nullopt;
        return r;
    }
    return std::nullopt;
}

// The record a unit leaves: this first line, then "key=value" lines with
// values escaped as report text. Written when the unit starts, again once
// fix_prot has ended, and a last time with "ended" when the unit is done.
namespace record {
inline constexpr std::string_view magic = "tessaly-unit 1\n";
inline constexpr std::string_view tag = "tag";
inline constexpr std::string_view lock = "lock";
inline constexpr std::string_view started = "started";
inline constexpr std::string_view fixProt = "fix_prot"; // "exit N", "signal N", "not started: ..."
inline constexpr std::string_view fixProtEnded = "fix_prot_ended";
inline constexpr std::string_view endview = "endview"; // as fix_prot, or "not run"
inline constexpr std::string_view endviewMessage = "endview_message";
inline constexpr std::string_view ended = "ended"; // present only when the unit finished

inline std::string line(std::string_view key, std::string_view value) {
    std::string l(key);
    l += '=';
    l += escape(value);
    l += '\n';
    return l;
}
} // namespace record

// The lines the lock command on the storage's host writes to its error
// output before the program starts: "tessaly-lock: at PATH", then "held",
// "fail REASON" or "noflock". The command itself is a shell script
// (locked_command_on_host) that writes these words.
namespace hostlock {
inline constexpr std::string_view marker = "tessaly-lock: ";
inline constexpr std::string_view held = "held";
inline constexpr std::string_view noFlock = "noflock";
inline constexpr std::string_view at = "at ";
inline constexpr std::string_view fail = "fail ";
// The lock command's exit status when another repair holds the lock.
inline constexpr int busyStatus = 75;
} // namespace hostlock

} // namespace tsy::unit
