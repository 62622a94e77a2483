// parse_lsview_long over arbitrary bytes, the view objects the CLI backend
// builds from its records, and a round trip: sound records written back in
// the lsview -long form must read back the same.

#include "fuzzcheck.h"

#include "clearcase/cleartoolcli.h"
#include "clearcase/lsviewparse.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>

using tsy::cc::CleartoolRunner;
using tsy::cc::CliView;
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

bool failed(const std::function<void()>& call) {
    try {
        call();
    } catch (const tsy::Failure& f) {
        FUZZ_CHECK(!f.description().isEmpty());
        return true;
    }
    return false;
}

void check_view(const LsviewRecord& r) {
    CliView v(r, CleartoolRunner(QStringLiteral("/nonexistent/tessaly-fuzz/cleartool")));
    QString tag, host;
    bool active = false, snap = false, ucm = false;
    const bool tagFailed = failed([&] { tag = v.tagName(); });
    const bool hostFailed = failed([&] { host = v.host(); });
    const bool activeFailed = failed([&] { active = v.isActive(); });
    const bool snapFailed = failed([&] { snap = v.isSnapShot(); });
    const bool ucmFailed = failed([&] { ucm = v.isUCMView(); });

    if (!r.problem.isEmpty()) {
        // An unreadable record answers nothing.
        FUZZ_CHECK(tagFailed && hostFailed && activeFailed && snapFailed && ucmFailed);
        return;
    }
    FUZZ_CHECK(!tagFailed && !snapFailed && !ucmFailed);
    FUZZ_CHECK(r.tag.has_value() && tag == *r.tag);
    FUZZ_CHECK(!tag.isEmpty() && !has_control(tag));
    FUZZ_CHECK(hostFailed == !r.serverHost.has_value());
    if (!hostFailed)
        FUZZ_CHECK(!host.isEmpty() && !has_control(host) && host == *r.serverHost);
    FUZZ_CHECK(activeFailed == !r.active.has_value());
    if (!activeFailed)
        FUZZ_CHECK(active == *r.active);
    FUZZ_CHECK(snap == r.snapshot() && ucm == r.ucm());
    if (snap || ucm)
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

    QByteArray rewritten;
    QList<LsviewRecord> sound;
    for (const LsviewRecord& r : records) {
        check_view(r);
        if (r.problem.isEmpty()) {
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
