// SPDX-License-Identifier: Apache-2.0
#pragma once

// What an operation of the core gives back when it can fail: its value, or
// the text that says why there is none. The core returns these; it neither
// throws nor fills an out-parameter with the reason. The text is worded to
// be shown: callers put it into their own messages as it is.
//
//   Result<QString> storage(...) { ...; return Error{why}; ...; return path; }
//   const Result<QString> s = storage(...);
//   if (!s.ok()) report(s.error());

#include <QString>

#include <utility>

namespace tsy {

// The reason an operation failed, to return as its Result.
struct Error {
    QString text;
};

template <class T> class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Error error) : m_ok(false), m_error(std::move(error.text)) {}

    bool ok() const { return m_ok; }
    // The value; a default-made T when the operation failed.
    const T& value() const& { return m_value; }
    T&& value() && { return std::move(m_value); }
    // Why the operation failed; empty when it did not.
    const QString& error() const { return m_error; }

private:
    T m_value{};
    bool m_ok = true;
    QString m_error;
};

// For an operation that gives nothing but success or its failure: `return
// {};` succeeds.
template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_ok(false), m_error(std::move(error.text)) {}

    bool ok() const { return m_ok; }
    const QString& error() const { return m_error; }

private:
    bool m_ok = true;
    QString m_error;
};

} // namespace tsy
