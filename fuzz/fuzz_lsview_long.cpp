// SPDX-License-Identifier: Apache-2.0
// parse_lsview_long over arbitrary bytes; the same output read as it
// streams, cut anywhere, gives the same records; the fields of a listing
// read alone are those of the whole read; and a round trip: sound records
// written back in the lsview -long form must read back the same.

#include "fuzzcheck.h"

#include "cc/lsviewparse.h"
#include "cc/lsviewstream.h"

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>

using tsy::cc::LsviewRecord;

namespace {

bool has_control(const QString& s) {
    for (const QChar c : s) {
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7f ||
            c == QChar::ReplacementCharacter)
            return true;
    }
    return false;
}

void check_record(const LsviewRecord& r) {
    if (!r.problem.isEmpty())
        return;
    // A sound record has a printable tag and, if any, a printable host.
    FUZZ_CHECK(r.tag.has_value() && !r.tag->isEmpty() && !has_control(*r.tag));
    if (r.serverHost)
        FUZZ_CHECK(!r.serverHost->isEmpty() && !has_control(*r.serverHost));
    if (r.snapshot() || r.ucm())
        FUZZ_CHECK(r.attributes.has_value());
}

// The record as cleartool would print it.
QByteArray write_record(const LsviewRecord& r) {
    QString out = QStringLiteral("Tag: ") + *r.tag;
    if (!r.comment.isEmpty())
        out += QStringLiteral(" \"") + r.comment + QStringLiteral("\"");
    out += u'\n';
    const auto field = [&out](const char* key, const std::optional<QString>& v) {
        if (v)
            out +=
                QStringLiteral("  ") + QLatin1StringView(key) + QStringLiteral(": ") + *v + u'\n';
    };
    field("Global path", r.globalPath);
    field("Server host", r.serverHost);
    field("Region", r.region);
    if (r.active)
        out += *r.active ? QStringLiteral("  Active: YES\n") : QStringLiteral("  Active: NO\n");
    field("View attributes", r.attributes);
    field("View server access path", r.accessPath);
    field("View owner", r.owner);
    return out.toUtf8();
}

bool same(const LsviewRecord& a, const LsviewRecord& b) {
    return a.tag == b.tag && a.comment == b.comment && a.globalPath == b.globalPath &&
           a.serverHost == b.serverHost && a.region == b.region && a.active == b.active &&
           a.attributes == b.attributes && a.accessPath == b.accessPath && a.owner == b.owner &&
           a.problem == b.problem;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<LsviewRecord> records = tsy::cc::parse_lsview_long(bytes);

    // Every record starts on a line of its own.
    const qsizetype lines = bytes.count('\n') + 1;
    FUZZ_CHECK(records.size() <= lines);

    // Streamed in pieces whose sizes come from the input itself.
    tsy::cc::LsviewStream stream;
    QList<LsviewRecord> streamed;
    qsizetype at = 0;
    std::size_t piece = size > 0 ? data[0] % 37 + 1 : 1;
    while (at < bytes.size()) {
        const qsizetype n = std::min<qsizetype>(qsizetype(piece), bytes.size() - at);
        streamed += stream.feed(bytes.sliced(at, n));
        at += n;
        piece = piece * 7 % 61 + 1;
    }
    streamed += stream.finish();
    // Each field is decoded on its own, so any output, text or not, reads
    // the same however it is cut.
    FUZZ_CHECK(streamed.size() == records.size());
    for (qsizetype i = 0; i < records.size(); ++i)
        FUZZ_CHECK(same(streamed[i], records[i]));

    // A listing's read leaves the other fields out, and nothing else.
    const QList<LsviewRecord> listed =
        tsy::cc::parse_lsview_long(bytes, tsy::cc::LsviewFields::Listing);
    FUZZ_CHECK(listed.size() == records.size());
    for (qsizetype i = 0; i < records.size(); ++i) {
        const LsviewRecord& l = listed[i];
        const LsviewRecord& r = records[i];
        FUZZ_CHECK(l.tag == r.tag && l.comment == r.comment && l.serverHost == r.serverHost &&
                   l.problem == r.problem);
        FUZZ_CHECK(!l.globalPath && !l.region && !l.active && !l.attributes && !l.accessPath &&
                   !l.owner);
    }

    QByteArray rewritten;
    QList<LsviewRecord> sound;
    // Bytes that are not UTF-8 are kept as lone surrogates, which no text
    // can be written back as: such records are not rewritten.
    const auto keptBytes = [](const LsviewRecord& r) {
        for (const std::optional<QString>* f : {&r.tag, &r.globalPath, &r.serverHost, &r.region,
                                                &r.attributes, &r.accessPath, &r.owner})
            if (*f &&
                std::any_of((*f)->cbegin(), (*f)->cend(), [](QChar c) { return c.isSurrogate(); }))
                return true;
        return std::any_of(r.comment.cbegin(), r.comment.cend(),
                           [](QChar c) { return c.isSurrogate(); });
    };
    for (const LsviewRecord& r : records) {
        check_record(r);
        if (r.problem.isEmpty() && !keptBytes(r)) {
            sound.append(r);
            rewritten += write_record(r);
        }
    }

    const QList<LsviewRecord> again = tsy::cc::parse_lsview_long(rewritten);
    if (again.size() != sound.size()) {
        std::fprintf(stderr, "invariant violated: %lld sound records read back as %lld\n",
                     static_cast<long long>(sound.size()), static_cast<long long>(again.size()));
        __builtin_trap();
    }
    for (qsizetype i = 0; i < sound.size(); ++i) {
        if (!same(sound[i], again[i])) {
            std::fprintf(stderr, "invariant violated: record %lld reads back otherwise\n",
                         static_cast<long long>(i));
            fuzz::dump("tag", sound[i].tag.value_or(QString()));
            fuzz::dump("read back as", again[i].tag.value_or(QString()));
            fuzz::dump("problem", again[i].problem);
            __builtin_trap();
        }
    }
    return 0;
}
