// SPDX-License-Identifier: Apache-2.0
#pragma once

// Pure parsers for cleartool's output. They never fail: what cannot be
// read is reported in the records they return.

#include "process/result.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace tsy::cc {

// One record of `cleartool lsview -long`.
struct LsviewRecord {
    std::optional<QString> tag;
    QString comment; // the quoted comment after the tag, if any
    std::optional<QString> globalPath;
    std::optional<QString> serverHost;
    std::optional<QString> region;
    std::optional<bool> active;
    std::optional<QString> attributes;
    std::optional<QString> accessPath;
    std::optional<QString> owner;
    // Why the record cannot be trusted; empty for a sound record.
    QString problem;

    bool snapshot() const;
    bool ucm() const;
};

} // namespace tsy::cc

// Moved in memory as a whole when a list of records grows.
Q_DECLARE_TYPEINFO(tsy::cc::LsviewRecord, Q_RELOCATABLE_TYPE);

namespace tsy::cc {

// Which fields a parse fills. A listing needs only the tag, its comment and
// the server host; a summary adds the global path, whether the view is
// active and its attributes. The other fields are still recognised (a field
// met twice still starts a record of its own) but neither decoded nor kept.
// The problem of a record is the same either way.
enum class LsviewFields { All, Summary, Listing };

// Reads `lsview -long` output one line at a time, straight from cleartool's
// bytes: only the fields asked for are decoded, each on its own, so that a
// listing of tens of thousands of views costs little more than reading it.
// A record is complete when the line that starts the next one is read, or
// at the end.
class LsviewReader {
public:
    explicit LsviewReader(LsviewFields fields = LsviewFields::All) : m_fields(fields) {}

    // One line of output without its line feed (a CR before it is allowed).
    void line(QByteArrayView line);
    // The output has ended: the record being read is complete, and the
    // reader starts afresh for another output.
    void finish();
    // The records completed so far, handed over.
    QList<LsviewRecord> take() { return std::exchange(m_done, {}); }
    // The same, appended to done.
    void take(QList<LsviewRecord>& done);

private:
    void close();
    // A known field: a second one means a record lost its "Tag:" line.
    void seen(unsigned bit);
    // The server host as text. A region has far fewer hosts than views, so
    // the text of a host met lately is shared instead of made again.
    QString host(QByteArrayView bytes);

    struct KnownHost {
        QByteArray bytes;
        QString text;
    };

    LsviewFields m_fields;
    LsviewRecord m_current;
    QList<LsviewRecord> m_done;
    unsigned m_seen = 0;      // the fields met in the current record
    bool m_open = false;      // a record is being read
    bool m_junk = false;      // unrecognised text before any "Tag:" line
    bool m_first = true;      // the next line is the first of the output
    QList<KnownHost> m_hosts; // the latest hosts, a few
    qsizetype m_nextHost = 0; // the entry a new host replaces once they are all taken
};

// Splits `lsview -long` output into records. Accepts indented lines, CR LF
// line ends, unknown lines, and garbage: text before the first "Tag:" line
// becomes a record without a tag, and a tag or host holding control
// characters or undecodable bytes marks its record as unreadable. A UTF-8
// byte order mark opening the output is dropped; each field is decoded on
// its own (decode_output's rules, a U+FEFF inside the text kept).
QList<LsviewRecord> parse_lsview_long(QByteArrayView output,
                                      LsviewFields fields = LsviewFields::All);

// The tag and the optional quoted comment of a "Tag:" line's value.
void split_tag_comment(const QString& value, QString& tag, QString& comment);

// The other reading of a record with a comment: the "Tag:" line's value
// whole, the quoted word belonging to the tag. Only for a record with a
// tag.
QString tag_with_comment(const LsviewRecord& r);

// The record of tag in the records of `lsview -long TAG` (with
// -properties or not). That output is one record, and it must be sound and
// name tag: its tag is tag, or tag_with_comment is (a tag that ends in a
// quoted word reads as a tag and its comment). The record returned then
// carries tag whole and no comment. Why not when the output cannot be
// trusted: a record cannot be read (its problem), there is more than one,
// or the one there names another view. No record, and no error, when there
// is no record at all: cleartool knows no such view.
Result<std::optional<LsviewRecord>> find_record(QList<LsviewRecord> records, const QString& tag);

// Decodes cleartool's bytes: UTF-8 where valid, else the local 8-bit code.
// Where that too is UTF-8, each byte that is not valid UTF-8 (0x80-0xFF)
// becomes the lone surrogate U+DC00 + byte, which marks the text unreadable
// and keeps the byte, so that a garbled name can still be shown as it came.
QString decode_output(QByteArrayView output);

// A name as an operator can read it: kept bytes and control characters
// as \xNN.
QString printable_name(const QString& name);

} // namespace tsy::cc
