// split_at_delim and strip_crlf, and the storage-path cut of getViewStg
// (everything from the earliest marker on, "/" on POSIX and "\\" on
// Windows) over arbitrary text.
//
// Input: the first byte's low four bits are the delimiter's length in
// bytes, the delimiter follows, the rest is the text (both UTF-8, decoded
// the way cleartool output is).

#include "fuzzcheck.h"

#include "cc/lsviewparse.h"
#include "model/textutil.h"

#include <cstddef>
#include <cstdint>

namespace {

void check_split(const QString& original, const QString& delim) {
    QString before = original;
    const QString after = tsy::split_at_delim(before, delim);
    const qsizetype at = delim.isEmpty() ? -1 : original.indexOf(delim, 0, Qt::CaseSensitive);
    if (at < 0) {
        FUZZ_CHECK(before == original);
        FUZZ_CHECK(after.isEmpty());
        return;
    }
    FUZZ_CHECK(QString(before + delim + after) == original);
    FUZZ_CHECK(before.size() == at);
    // The earliest occurrence: none ends before this one does.
    FUZZ_CHECK(!original.left(at + delim.size() - 1).contains(delim));
}

void check_strip(const QString& original) {
    const QString stripped = tsy::strip_crlf(original);
    FUZZ_CHECK(!stripped.contains(u'\r') && !stripped.contains(u'\n'));
    // Every other character, in order.
    qsizetype j = 0;
    for (const QChar c : original) {
        if (c == u'\r' || c == u'\n')
            continue;
        FUZZ_CHECK(j < stripped.size() && stripped.at(j) == c);
        ++j;
    }
    FUZZ_CHECK(j == stripped.size());
    FUZZ_CHECK(tsy::strip_crlf(stripped) == stripped);
}

// getViewStg: marker + what split_at_delim leaves behind the marker, then
// the CR and LF dropped as the run does before using it as a path.
void check_storage_cut(const QString& output, const QString& marker) {
    QString head = output;
    const QString rest = tsy::split_at_delim(head, marker);
    const QString storage = tsy::strip_crlf(marker + rest);
    const qsizetype at = output.indexOf(marker);
    FUZZ_CHECK(storage.startsWith(marker));
    if (at < 0) {
        // No path in the output: the bare marker, which the run refuses.
        FUZZ_CHECK(storage == marker);
    } else {
        FUZZ_CHECK(storage == tsy::strip_crlf(output.mid(at)));
        FUZZ_CHECK(!head.contains(marker));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t delimLen = std::min<std::size_t>(data[0] & 0x0f, size - 1);
    const char* bytes = reinterpret_cast<const char*>(data);
    const QString delim = tsy::cc::decode_output(QByteArrayView(bytes + 1, qsizetype(delimLen)));
    const QString text = tsy::cc::decode_output(
        QByteArrayView(bytes + 1 + delimLen, qsizetype(size - 1 - delimLen)));

    check_split(text, delim);
    check_split(text, QStringLiteral(":")); // the tag of a "tag:host" line
    check_strip(text);
    check_strip(delim + text);
    check_storage_cut(text, QStringLiteral("/"));
    check_storage_cut(text, QStringLiteral("\\\\"));
    return 0;
}
