// SPDX-License-Identifier: Apache-2.0
#pragma once

// Commands as text: a command's words written as one line for a person or
// a shell, and a setting split back into words as a POSIX shell splits it.

#include "process/result.h"

#include <QString>
#include <QStringList>

namespace tsy::process {

// One word for a POSIX shell: as it is when the shell reads it so
// (letters, digits and -_./:,+@% only, and not "NAME=..." which would be
// taken for an assignment), else single-quoted, a quote written as '\''.
QString shell_quote(const QString& word);
// How the words of a command are written as one line.
enum class Quoting {
    // For a POSIX shell: shell_quote. What a person pastes into a shell,
    // and what a remote shell is handed.
    Shell,
    // By the rules QProcess::splitCommand reads: a word holding white space
    // or a quote in double quotes, a quote inside written as three; any
    // other word as it is. The window's messages show commands this way.
    SplitCommand,
};
// One word of such a line.
QString quoted_word(const QString& word, Quoting quoting);
// A command as one line a person can read or paste: each word quoted
// where it needs it, one blank between words.
QString quoted_command(const QStringList& words, Quoting quoting);

// Splits text into words as a POSIX shell does, with no expansions:
// unquoted blanks (space, tab, line feed) part words; single quotes keep
// all up to the next one; double quotes keep all but a backslash before
// $ ` " \ or a line feed; an unquoted backslash keeps the next character
// (before a line feed it joins the lines). The words, or why not for an
// unclosed quote.
Result<QStringList> shell_words(const QString& text);

} // namespace tsy::process
