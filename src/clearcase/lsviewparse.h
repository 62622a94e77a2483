#pragma once

// Pure parsers for cleartool's output. They never fail: what cannot be
// read is reported in the records they return.

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

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

// Splits `lsview -long` output into records. Accepts indented lines, CR LF
// line ends, unknown lines, and garbage: text before the first "Tag:" line
// becomes a record without a tag, and a tag or host holding control
// characters or undecodable bytes marks its record as unreadable.
QList<LsviewRecord> parse_lsview_long(QByteArrayView output);

// The tag and the optional quoted comment of a "Tag:" line's value.
void split_tag_comment(const QString& value, QString& tag, QString& comment);

// Decodes cleartool's bytes: UTF-8 where valid, else the local 8-bit code.
// Where that too is UTF-8, each byte that is not valid UTF-8 (0x80-0xFF)
// becomes the lone surrogate U+DC00 + byte, which marks the text unreadable
// and keeps the byte, so that a garbled name can still be shown as it came.
QString decode_output(QByteArrayView output);

// A name as an operator can read it: kept bytes and control characters
// as \xNN.
QString printable_name(const QString& name);

} // namespace tsy::cc
