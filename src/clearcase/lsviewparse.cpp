#include "clearcase/lsviewparse.h"

#include <QStringDecoder>

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

// "Key: value" with the key one of those known; the value after ": ".
bool take_field(QStringView line, QLatin1StringView key, QString& value) {
    if (!line.startsWith(key))
        return false;
    QStringView rest = line.mid(key.size());
    if (!rest.startsWith(u':'))
        return false;
    rest = rest.mid(1);
    if (rest.startsWith(u' '))
        rest = rest.mid(1);
    value = rest.toString();
    return true;
}

// Whether "Tag: " occurs anywhere in the line; found by its capital, which
// most lines of a listing do not hold at all.
bool holds_tag_field(QStringView l) {
    static constexpr char16_t kRest[] = u"ag: ";
    for (qsizetype i = l.indexOf(u'T'); i >= 0; i = l.indexOf(u'T', i + 1)) {
        if (l.sliced(i + 1).startsWith(QStringView(kRest, 4)))
            return true;
    }
    return false;
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

} // namespace

bool LsviewRecord::snapshot() const {
    return attributes && attributes->split(u',').contains(QStringLiteral("snapshot"));
}

bool LsviewRecord::ucm() const {
    return attributes && attributes->split(u',').contains(QStringLiteral("ucmview"));
}

namespace {
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
} // namespace

QString decode_output(QByteArrayView output) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(output);
    if (!utf8.hasError())
        return text;
    // A local code other than UTF-8 (a Windows code page) reads every byte.
    static const bool localIsUtf8 = QString::fromLocal8Bit("\xc3\xbc") == QStringLiteral("\u00fc");
    if (!localIsUtf8)
        return QString::fromLocal8Bit(output);
    // Valid sequences as text, every other byte kept as a lone surrogate.
    text.clear();
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

QList<LsviewRecord> parse_lsview_long(QByteArrayView output) {
    const QString text = decode_output(output);
    QList<LsviewRecord> records;
    LsviewRecord current;
    bool open = false; // a record is being read
    bool junk = false; // unrecognised text before any "Tag:" line

    const auto finish = [&] {
        if (open || junk) {
            check_record(current);
            records.append(std::move(current));
        }
        current = LsviewRecord();
        open = false;
        junk = false;
    };

    qsizetype pos = 0;
    while (pos <= text.size()) {
        qsizetype nl = text.indexOf(u'\n', pos);
        if (nl < 0)
            nl = text.size();
        // Lines are looked at in place: a listing of tens of thousands of
        // views has hundreds of thousands of lines, most of them skipped.
        QStringView line = QStringView(text).mid(pos, nl - pos);
        pos = nl + 1;
        while (line.endsWith(u'\r'))
            line.chop(1);
        // Leading indentation varies between releases and platforms.
        qsizetype lead = 0;
        while (lead < line.size() && (line.at(lead) == u' ' || line.at(lead) == u'\t'))
            ++lead;
        const QStringView l = line.mid(lead);
        if (l.isEmpty())
            continue;

        QString v;
        if (take_field(l, QLatin1StringView("Tag"), v)) {
            finish();
            open = true;
            QString tag, comment;
            split_tag_comment(v, tag, comment);
            current.tag = tag;
            current.comment = comment;
            continue;
        }
        if (holds_tag_field(l)) {
            // A record whose "Tag:" line is preceded by junk: its fields must
            // not be taken for those of the record before it.
            finish();
            open = true;
            current.problem =
                QStringLiteral("unreadable lsview output: \"") + l.left(80) + QStringLiteral("\"");
            continue;
        }
        if (!open) {
            junk = true;
            if (current.problem.isEmpty())
                current.problem = QStringLiteral("unreadable lsview output: \"") + l.left(80) +
                                  QStringLiteral("\"");
            continue;
        }
        // A field met twice means a record lost its "Tag:" line: what follows
        // belongs to a view that cannot be named, not to this one.
        const auto set = [&](std::optional<QString>& field) {
            if (field) {
                finish();
                open = true;
                current.problem =
                    QStringLiteral("unreadable lsview output: a view record without a tag");
            }
            field = v;
        };
        if (take_field(l, QLatin1StringView("Global path"), v))
            set(current.globalPath);
        else if (take_field(l, QLatin1StringView("Server host"), v))
            set(current.serverHost);
        else if (take_field(l, QLatin1StringView("Region"), v))
            set(current.region);
        else if (take_field(l, QLatin1StringView("Active"), v)) {
            const QString t = v.trimmed();
            if (t == QLatin1StringView("YES"))
                current.active = true;
            else if (t == QLatin1StringView("NO"))
                current.active = false;
        } else if (take_field(l, QLatin1StringView("View attributes"), v)) {
            v = v.trimmed();
            set(current.attributes);
        } else if (take_field(l, QLatin1StringView("View server access path"), v))
            set(current.accessPath);
        else if (take_field(l, QLatin1StringView("View owner"), v))
            set(current.owner);
        else if (unreadable(l) && current.problem.isEmpty())
            current.problem = QStringLiteral("unreadable lsview output in the record of view \"") +
                              current.tag.value_or(QString()) + QStringLiteral("\"");
        // Other lines (uuids, "View on host:", future fields) are not needed.
    }
    finish();
    return records;
}

} // namespace tsy::cc
