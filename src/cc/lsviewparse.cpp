// SPDX-License-Identifier: Apache-2.0
#include "cc/lsviewparse.h"

#include <QStringDecoder>

#include <cstdint>
#include <cstring>
#include <string_view>

namespace tsy::cc {

namespace {

bool unreadable(QStringView s) {
    for (const QChar c : s) {
        if (c == QChar::ReplacementCharacter || (c.unicode() < 0x20 && c != u'\t') ||
            c.unicode() == 0x7f || c.isSurrogate())
            return true;
    }
    return false;
}

// Whether every byte is printable ASCII or a tab: such text is read as it
// stands, and most lines of a listing are. Eight bytes are looked at at a
// time: a byte below 0x20 or above 0x7e sets its high bit in `odd`.
bool plain_ascii(QByteArrayView b) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHigh = 0x8080808080808080u;
    const char* p = b.data();
    const char* const end = p + b.size();
    for (; end - p >= 8; p += 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        const std::uint64_t odd = ((w - kOnes * 0x20) & ~w) | ((w + kOnes * 0x01) | w);
        if (odd & kHigh)
            break; // looked at byte by byte below, tabs allowed
    }
    for (; p != end; ++p) {
        const auto u = static_cast<unsigned char>(*p);
        if ((u < 0x20 && u != '\t') || u > 0x7e)
            return false;
    }
    return true;
}

// The length of the valid UTF-8 sequence at p (at most n bytes), or 0.
qsizetype utf8_sequence(const unsigned char* p, qsizetype n) {
    const unsigned char b = p[0];
    qsizetype len = b < 0x80           ? 1
                    : (b >> 5) == 0x6  ? 2
                    : (b >> 4) == 0xe  ? 3
                    : (b >> 3) == 0x1e ? 4
                                       : 0;
    if (len == 0 || len > n)
        return 0;
    for (qsizetype i = 1; i < len; ++i)
        if ((p[i] & 0xc0) != 0x80)
            return 0;
    // Overlong forms, surrogates and values past U+10FFFF are not valid.
    if ((len == 2 && b < 0xc2) || (len == 3 && b == 0xe0 && p[1] < 0xa0) ||
        (len == 3 && b == 0xed && p[1] >= 0xa0) || (len == 4 && b == 0xf0 && p[1] < 0x90) ||
        (len == 4 && (b > 0xf4 || (b == 0xf4 && p[1] >= 0x90))))
        return 0;
    return len;
}

bool local_is_utf8() {
    static const bool utf8 = QString::fromLocal8Bit("\xc3\xbc") == QStringLiteral("\u00fc");
    return utf8;
}

// Output that is not valid UTF-8: valid sequences as text, every other
// byte kept as a lone surrogate, where the local code too is UTF-8.
QString decode_keeping_bytes(QByteArrayView output) {
    if (!local_is_utf8())
        return QString::fromLocal8Bit(output);
    QString text;
    text.reserve(output.size());
    const auto* p = reinterpret_cast<const unsigned char*>(output.data());
    const qsizetype n = output.size();
    for (qsizetype i = 0; i < n;) {
        const qsizetype len = utf8_sequence(p + i, n - i);
        if (len == 0) {
            text.append(QChar(char16_t(0xdc00 + p[i])));
            ++i;
            continue;
        }
        text.append(QString::fromUtf8(reinterpret_cast<const char*>(p + i), len));
        i += len;
    }
    return text;
}

// One field or line of the output as text: decode_output's rules, except
// that a byte order mark at its start is a character like any other, as it
// is in the middle of a decoded output, and that a sequence cut short by
// the field's end is bytes kept, not text awaiting more.
QString decode_part(QByteArrayView b) {
    if (plain_ascii(b))
        return QString::fromLatin1(b);
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(b);
    if (!utf8.hasError())
        return text;
    return decode_keeping_bytes(b);
}

bool unreadable_bytes(QByteArrayView b) {
    return !plain_ascii(b) && unreadable(decode_part(b));
}

// "Key: value" with the key one of those known; the value after ": ".
// The key's length is known when compiling, so its comparison is inlined.
template <size_t N>
bool take_field(QByteArrayView line, const char (&key)[N], QByteArrayView& value) {
    constexpr qsizetype k = N - 1;
    if (line.size() <= k || line.at(k) != ':' || std::memcmp(line.data(), key, size_t(k)) != 0)
        return false;
    value = line.sliced(k + 1);
    if (value.startsWith(' '))
        value = value.sliced(1);
    return true;
}

// Whether "Tag: " occurs anywhere in the line.
bool holds_tag_field(QByteArrayView l) {
    return std::string_view(l.data(), size_t(l.size())).find("Tag: ") != std::string_view::npos;
}

QString quoted_line(QByteArrayView l) {
    return QStringLiteral("unreadable lsview output: \"") + decode_part(l).left(80) +
           QStringLiteral("\"");
}

void check_record(LsviewRecord& r) {
    if (!r.problem.isEmpty())
        return;
    if (!r.tag) {
        r.problem = QStringLiteral("unreadable lsview output: a view record without a tag");
    } else if (r.tag->isEmpty() || unreadable(*r.tag)) {
        r.problem = QStringLiteral("unreadable lsview output: the view tag is garbled");
    } else if (r.serverHost && (r.serverHost->isEmpty() || unreadable(*r.serverHost))) {
        r.problem = QStringLiteral("unreadable lsview output: the server host of view \"") +
                    *r.tag + QStringLiteral("\" is garbled");
    }
}

enum Field : unsigned {
    kGlobalPath = 1,
    kServerHost = 2,
    kRegion = 4,
    kAttributes = 8,
    kAccessPath = 16,
    kOwner = 32,
};

} // namespace

bool LsviewRecord::snapshot() const {
    return attributes && attributes->split(u',').contains(QStringLiteral("snapshot"));
}

bool LsviewRecord::ucm() const {
    return attributes && attributes->split(u',').contains(QStringLiteral("ucmview"));
}

QString decode_output(QByteArrayView output) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(output);
    if (!utf8.hasError())
        return text;
    return decode_keeping_bytes(output);
}

QString printable_name(const QString& name) {
    QString out;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool kept = u >= 0xdc80 && u <= 0xdcff;
        if (kept || u < 0x20 || u == 0x7f)
            out += QStringLiteral("\\x") +
                   QString::number(kept ? u - 0xdc00 : u, 16).toUpper().rightJustified(2, u'0');
        else
            out += c;
    }
    return out;
}

void split_tag_comment(const QString& value, QString& tag, QString& comment) {
    tag = value;
    comment.clear();
    // `Tag: name "comment"`: a comment is quoted and set off by a blank.
    if (!value.endsWith(u'"'))
        return;
    const qsizetype open = value.indexOf(QStringLiteral(" \""));
    if (open <= 0 || open + 2 > value.size() - 1)
        return;
    tag = value.left(open);
    comment = value.mid(open + 2, value.size() - open - 3);
}

QString tag_with_comment(const LsviewRecord& r) {
    return r.tag.value_or(QString()) + QStringLiteral(" \"") + r.comment + u'"';
}

Result<std::optional<LsviewRecord>> find_record(QList<LsviewRecord> records, const QString& tag) {
    for (const LsviewRecord& r : records) {
        if (!r.problem.isEmpty())
            return Error{r.problem};
    }
    if (records.isEmpty())
        return std::optional<LsviewRecord>();
    if (records.size() > 1)
        return Error{
            QStringLiteral("lsview -long gave %1 records for view \"").arg(records.size()) +
            printable_name(tag) + QStringLiteral("\", not one")};
    LsviewRecord& r = records.first();
    if (!r.tag)
        return Error{QStringLiteral("unreadable lsview output: a view record without a tag")};
    if (!r.comment.isEmpty() && *r.tag != tag && tag_with_comment(r) == tag) {
        r.tag = tag;
        r.comment.clear();
    }
    if (*r.tag != tag)
        return Error{QStringLiteral("lsview -long gave the record of view \"") +
                     printable_name(*r.tag) + QStringLiteral("\" for view \"") +
                     printable_name(tag) + u'"'};
    return std::optional<LsviewRecord>(std::move(r));
}

void LsviewReader::close() {
    if (m_open || m_junk) {
        check_record(m_current);
        m_done.append(std::move(m_current));
    }
    m_current = LsviewRecord();
    m_open = false;
    m_junk = false;
    m_seen = 0;
}

void LsviewReader::seen(unsigned bit) {
    if (m_seen & bit) {
        close();
        m_open = true;
        m_current.problem = QStringLiteral("unreadable lsview output: a view record without a tag");
    }
    m_seen |= bit;
}

QString LsviewReader::host(QByteArrayView bytes) {
    constexpr qsizetype kHostsKept = 16;
    for (const KnownHost& h : std::as_const(m_hosts)) {
        if (QByteArrayView(h.bytes) == bytes)
            return h.text;
    }
    KnownHost h{bytes.toByteArray(), decode_part(bytes)};
    if (m_hosts.size() < kHostsKept) {
        m_hosts.append(h);
    } else {
        m_hosts[m_nextHost] = h;
        m_nextHost = (m_nextHost + 1) % kHostsKept;
    }
    return h.text;
}

void LsviewReader::line(QByteArrayView line) {
    if (std::exchange(m_first, false) && line.startsWith("\xef\xbb\xbf"))
        line = line.sliced(3);
    while (line.endsWith('\r'))
        line.chop(1);
    // Leading indentation varies between releases and platforms.
    qsizetype lead = 0;
    while (lead < line.size() && (line.at(lead) == ' ' || line.at(lead) == '\t'))
        ++lead;
    const QByteArrayView l = line.sliced(lead);
    if (l.isEmpty())
        return;

    QByteArrayView v;
    if (take_field(l, "Tag", v)) {
        close();
        m_open = true;
        QString tag, comment;
        split_tag_comment(decode_part(v), tag, comment);
        m_current.tag = std::move(tag);
        m_current.comment = std::move(comment);
        return;
    }
    if (holds_tag_field(l)) {
        // A record whose "Tag:" line is preceded by junk: its fields must
        // not be taken for those of the record before it.
        close();
        m_open = true;
        m_current.problem = quoted_line(l);
        return;
    }
    if (!m_open) {
        m_junk = true;
        if (m_current.problem.isEmpty())
            m_current.problem = quoted_line(l);
        return;
    }
    const bool all = m_fields == LsviewFields::All;
    const bool summary = all || m_fields == LsviewFields::Summary;
    // A field met twice means a record lost its "Tag:" line: what follows
    // belongs to a view that cannot be named, not to this one.
    const auto set = [&](unsigned bit, std::optional<QString> LsviewRecord::*field, bool keep) {
        seen(bit);
        if (keep)
            m_current.*field = decode_part(v);
    };
    bool known = true;
    switch (l.front()) {
    case 'G':
        known = take_field(l, "Global path", v);
        if (known)
            set(kGlobalPath, &LsviewRecord::globalPath, summary);
        break;
    case 'S':
        known = take_field(l, "Server host", v);
        if (known) {
            seen(kServerHost);
            m_current.serverHost = host(v);
        }
        break;
    case 'R':
        known = take_field(l, "Region", v);
        if (known)
            set(kRegion, &LsviewRecord::region, all);
        break;
    case 'A':
        known = take_field(l, "Active", v);
        if (known && summary) {
            const QByteArrayView t = v.trimmed();
            if (t == "YES")
                m_current.active = true;
            else if (t == "NO")
                m_current.active = false;
        }
        break;
    case 'V':
        if (take_field(l, "View attributes", v)) {
            seen(kAttributes);
            if (summary)
                m_current.attributes = decode_part(v).trimmed();
        } else if (take_field(l, "View server access path", v)) {
            set(kAccessPath, &LsviewRecord::accessPath, all);
        } else if (take_field(l, "View owner", v)) {
            set(kOwner, &LsviewRecord::owner, all);
        } else {
            known = false;
        }
        break;
    default:
        known = false;
    }
    // Other lines (uuids, "View on host:", future fields) are not needed.
    if (!known && m_current.problem.isEmpty() && unreadable_bytes(l))
        m_current.problem = QStringLiteral("unreadable lsview output in the record of view \"") +
                            m_current.tag.value_or(QString()) + QStringLiteral("\"");
}

void LsviewReader::take(QList<LsviewRecord>& done) {
    if (done.isEmpty()) {
        // The room of done is kept for the next records.
        done.swap(m_done);
        return;
    }
    for (LsviewRecord& r : m_done)
        done.append(std::move(r));
    m_done.clear();
}

void LsviewReader::finish() {
    close();
    m_first = true;
}

QList<LsviewRecord> parse_lsview_long(QByteArrayView output, LsviewFields fields) {
    LsviewReader reader(fields);
    const char* p = output.data();
    const char* const end = p + output.size();
    for (;;) {
        const auto* nl =
            p == end ? nullptr : static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (!nl) {
            reader.line(QByteArrayView(p, end));
            break;
        }
        reader.line(QByteArrayView(p, nl));
        p = nl + 1;
    }
    reader.finish();
    return reader.take();
}

} // namespace tsy::cc
