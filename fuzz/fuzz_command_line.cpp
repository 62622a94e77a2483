// SPDX-License-Identifier: Apache-2.0
// The fix_prot argument list and the storage lookup.
//  - The words of the arguments box are the text split at white space as
//    QChar::isSpace defines it (the "<arguments>" placeholder stands for
//    none), when the text holds no quote: quotes are the operator's own.
//  - The storage path taken from `lsview TAG` output is never the root,
//    never climbs with "..", starts at the path marker and ends in no blank
//    or tab; for a one-line answer naming the tag and a sound path, it is
//    exactly that path.
//  - A command shown as one line, in either quoting, reads back as its
//    words.
//
// Input: tag, argument text and storage path, separated by zero bytes,
// each UTF-8 (decoded the way cleartool output is).

#include "fuzzcheck.h"

#include "cc/cleartoolcli.h"
#include "cc/lsviewparse.h"
#include "process/commandline.h"
#include "repair/fixprot.h"

#include <QDir>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

bool has_crlf_nul(const QString& s) {
    return s.contains(u'\r') || s.contains(u'\n') || s.contains(QChar(0));
}

QStringList words_of(const QString& text) {
    QStringList words;
    QString word;
    for (const QChar c : text) {
        if (c.isSpace()) {
            if (!word.isEmpty())
                words.append(word);
            word.clear();
        } else {
            word.append(c);
        }
    }
    if (!word.isEmpty())
        words.append(word);
    return words;
}

void check_arguments(const QString& args) {
    if (args.contains(u'"') || args.contains(u'\''))
        return;
    const QStringList expected =
        args == QLatin1StringView("<arguments>") ? QStringList() : words_of(args);
    FUZZ_CHECK(tsy::repair::argument_words(args) == expected);
}

void check_lookup(const QString& tag, const QString& path) {
    const QString answers[] = {QStringLiteral("* ") + tag + QStringLiteral("  ") + path,
                               QStringLiteral("  ") + tag + QStringLiteral("  ") + path +
                                   QStringLiteral("\n"),
                               tag + path};
    for (const QString& out : answers) {
        const tsy::Result<QString> found = tsy::repair::storage_from_lookup(out, tag);
        if (!found.ok()) {
            FUZZ_CHECK(!found.error().isEmpty());
            continue;
        }
        FUZZ_CHECK(found.error().isEmpty());
        const QString& got = found.value();
        FUZZ_CHECK(got.startsWith(u'/'));
        FUZZ_CHECK(QDir::cleanPath(got) != QLatin1StringView("/"));
        FUZZ_CHECK(!got.split(u'/').contains(QStringLiteral("..")));
        FUZZ_CHECK(!got.endsWith(u' ') && !got.endsWith(u'\t'));
    }
    // A sound answer gives its path back whole.
    const bool soundTag = !tag.isEmpty() && tag == tag.trimmed() && !tag.contains(u'/') &&
                          !tag.startsWith(u'*') && !has_crlf_nul(tag);
    const bool soundPath = path.startsWith(u'/') && !has_crlf_nul(path) && path == path.trimmed() &&
                           QDir::cleanPath(path) != QLatin1StringView("/") &&
                           !path.split(u'/').contains(QStringLiteral(".."));
    if (soundTag && soundPath) {
        bool onlyBlanks = true;
        for (const QChar c : tag)
            onlyBlanks &= c == u' ' || c == u'\t';
        if (!onlyBlanks)
            FUZZ_CHECK(tsy::repair::storage_from_lookup(answers[1], tag).value() == path);
    }
}

// A command shown as one line reads back as its words: by Qt's splitting
// in the window's style, by a POSIX shell in the shell's style. Qt's
// splitting never yields an empty word.
void check_quoting(const QStringList& words) {
    using tsy::process::quoted_command;
    using tsy::process::Quoting;
    if (std::none_of(words.cbegin(), words.cend(), [](const QString& w) { return w.isEmpty(); }))
        FUZZ_CHECK(QProcess::splitCommand(quoted_command(words, Quoting::SplitCommand)) == words);
    const tsy::Result<QStringList> back =
        tsy::process::shell_words(quoted_command(words, Quoting::Shell));
    FUZZ_CHECK(back.ok());
    FUZZ_CHECK(back.value() == words);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QByteArrayView parts[3];
    qsizetype start = 0;
    for (int i = 0; i < 3; ++i) {
        qsizetype end = i < 2 ? bytes.indexOf('\0', start) : -1;
        if (end < 0)
            end = bytes.size();
        parts[i] = bytes.sliced(std::min(start, bytes.size()), std::max<qsizetype>(0, end - start));
        start = end + 1;
    }
    const QString tag = tsy::cc::decode_output(parts[0]);
    const QString args = tsy::cc::decode_output(parts[1]);
    const QString storage = tsy::cc::decode_output(parts[2]);

    check_arguments(args);
    check_lookup(tag, storage);
    check_quoting({tag, args, storage});
    check_quoting({storage});
    return 0;
}
