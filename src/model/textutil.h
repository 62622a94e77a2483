#pragma once

#include <QString>

namespace tsy {

// Splits text at the earliest occurrence of delim (exact, case-sensitive):
// text keeps what stood before it, the part behind it is returned. Without
// an occurrence text stays as it is and the result is empty.
QString split_at_delim(QString& text, const QString& delim);

// The text without any carriage return or line feed, wherever they stand.
QString strip_crlf(const QString& text);

} // namespace tsy
