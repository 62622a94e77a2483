// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <ostream>

// Readable QString values in GoogleTest's failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
