// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <exception>

namespace tsy::cc {

// A failed call of a synchronous backend (ccauto.h), carrying the
// description text that callers put into their messages (ClearCase's own
// error text, a system error text, ...).
class Failure : public std::exception {
public:
    explicit Failure(QString description)
        : m_description(std::move(description)), m_utf8(m_description.toUtf8()) {}
    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// The description of whatever was thrown, for message texts.
QString describe_exception(std::exception_ptr e);

} // namespace tsy::cc
