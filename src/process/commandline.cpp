// SPDX-License-Identifier: Apache-2.0
#include "process/commandline.h"

#include "platform/shellquote.h"

#include <QStringView>

#include <algorithm>
#include <utility>

namespace tsy::process {

QString shell_quote(const QString& word) {
    const std::u16string_view w(reinterpret_cast<const char16_t*>(word.utf16()),
                                std::size_t(word.size()));
    if (plat::shell_plain_word(w))
        return word;
    return QString::fromStdU16String(plat::shell_quote(w));
}

QString quoted_word(const QString& word, Quoting quoting) {
    if (quoting == Quoting::Shell)
        return shell_quote(word);
    // Qt's splitting breaks at every white-space character.
    const bool needs = word.contains(u'"') ||
                       std::any_of(word.cbegin(), word.cend(), [](QChar c) { return c.isSpace(); });
    if (!needs)
        return word;
    // A literal quote inside quotes is three.
    QString inner = word;
    inner.replace(QStringLiteral("\""), QStringLiteral("\"\"\""));
    return u'"' + inner + u'"';
}

QString quoted_command(const QStringList& words, Quoting quoting) {
    QString line;
    for (qsizetype i = 0; i < words.size(); ++i) {
        if (i > 0)
            line += u' ';
        line += quoted_word(words.at(i), quoting);
    }
    return line;
}

Result<QStringList> shell_words(const QString& text) {
    QStringList words;
    QString word;
    bool inWord = false; // a word is begun, even if it stays empty ('')
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inWord)
                words.append(std::exchange(word, QString()));
            inWord = false;
            continue;
        }
        if (c == u'\\' && i + 1 < n && text.at(i + 1) == u'\n') {
            ++i; // a line continued
            continue;
        }
        inWord = true;
        if (c == u'\\') {
            word += i + 1 < n ? text.at(++i) : c;
        } else if (c == u'\'') {
            const qsizetype close = text.indexOf(u'\'', i + 1);
            if (close < 0) {
                return Error{QStringLiteral("a single quote is not closed")};
            }
            word += QStringView(text).mid(i + 1, close - i - 1);
            i = close;
        } else if (c == u'"') {
            qsizetype j = i + 1;
            for (; j < n && text.at(j) != u'"'; ++j) {
                if (text.at(j) == u'\\' && j + 1 < n &&
                    QStringView(u"$`\"\\\n").contains(text.at(j + 1))) {
                    ++j;
                    if (text.at(j) != u'\n')
                        word += text.at(j);
                } else {
                    word += text.at(j);
                }
            }
            if (j >= n) {
                return Error{QStringLiteral("a double quote is not closed")};
            }
            i = j;
        } else {
            word += c;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

} // namespace tsy::process
