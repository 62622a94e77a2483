// The fix_prot command line and the words the launcher splits it into:
// QProcess::splitCommand(fix_prot_command_line(program, args, storage))
// must give back the program, the words of the argument text and the
// storage path, exactly. And the view-tag commands sent to cleartool keep
// their tag as one word.
//
// Input: program, argument text and storage path, separated by zero bytes,
// each UTF-8 (decoded the way cleartool output is).
//
// The round trip holds when
//  - program and storage are not empty (splitCommand has no empty word),
//  - no text holds CR, LF or NUL (the storage path has been through
//    strip_crlf; no process argument can hold NUL),
//  - the argument text holds no double quote: it is the operator's text,
//    used as typed, so quotes in it are the operator's own quoting.
// The argument words are then the argument text split at white space as
// QChar::isSpace defines it (what splitCommand splits at); the
// "<arguments>" placeholder stands for none.

#include "fuzzcheck.h"

#include "repair/repairrun.h"
#include "clearcase/cleartoolcli.h"
#include "clearcase/lsviewparse.h"

#include <QProcess>
#include <QStringList>

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

void check_command_line(const QString& program, const QString& args, const QString& storage) {
    if (program.isEmpty() || storage.isEmpty() || has_crlf_nul(program) || has_crlf_nul(args) ||
        has_crlf_nul(storage) || args.contains(u'"'))
        return;
    const QString line = tsy::repair::fix_prot_command_line(program, args, storage);
    QStringList expected{program};
    if (args != QLatin1StringView("<arguments>"))
        expected += words_of(args);
    expected.append(storage);
    const QStringList got = QProcess::splitCommand(line);
    if (got != expected) {
        std::fprintf(stderr, "invariant violated: the command line does not split back\n");
        fuzz::dump("program", program);
        fuzz::dump("args", args);
        fuzz::dump("storage", storage);
        fuzz::dump("command line", line);
        for (const QString& w : got)
            fuzz::dump("  split word", w);
        __builtin_trap();
    }
}

void check_tag_commands(const QString& tag) {
    if (tag.isEmpty() || tag.startsWith(u'-'))
        return;
    using tsy::cc::split_cleartool_command;
    FUZZ_CHECK(split_cleartool_command(QStringLiteral("lsview ") + tag) ==
               (QStringList{QStringLiteral("lsview"), tag}));
    FUZZ_CHECK(split_cleartool_command(QStringLiteral("endview -server ") + tag) ==
               (QStringList{QStringLiteral("endview"), QStringLiteral("-server"), tag}));
    FUZZ_CHECK(split_cleartool_command(QStringLiteral("catcs -tag ") + tag) ==
               (QStringList{QStringLiteral("catcs"), QStringLiteral("-tag"), tag}));
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
    const QString program = tsy::cc::decode_output(parts[0]);
    const QString args = tsy::cc::decode_output(parts[1]);
    const QString storage = tsy::cc::decode_output(parts[2]);

    check_command_line(program, args, storage);
    check_tag_commands(program);
    check_tag_commands(storage);
    return 0;
}
