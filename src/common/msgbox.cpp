// SPDX-License-Identifier: Apache-2.0
#include "msgbox.h"

#include <QApplication>
#include <QMessageBox>

namespace tsy {

namespace {
MsgResponder& responder() {
    static MsgResponder r;
    return r;
}

QMessageBox::Icon to_qt(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Critical:
        return QMessageBox::Critical;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// A box keeps its size on the screen however long its text: it shows the
// first lines, up to kShownLines lines or kShownChars characters (a long
// line wraps into many), and the whole text goes into its details, which
// scroll and can be selected and copied.
constexpr int kShownLines = 15;
constexpr qsizetype kShownChars = 1200;

struct Shown {
    QString text;
    QString details; // empty: the text is shown whole
};

Shown shown_text(const QString& text) {
    const QStringList lines = text.split(u'\n');
    if (lines.size() <= kShownLines && text.size() <= kShownChars)
        return {text, QString()};
    QStringList kept;
    qsizetype chars = 0;
    for (const QString& line : lines) {
        if (kept.size() == kShownLines || chars + line.size() > kShownChars)
            break;
        kept.append(line);
        chars += line.size() + 1;
    }
    QString shown;
    if (kept.isEmpty()) {
        // One line too long to show: its start, cut at a blank.
        QString head = lines.first().left(kShownChars);
        const qsizetype blank = head.lastIndexOf(u' ');
        if (blank > kShownChars / 2)
            head.truncate(blank);
        shown = head + QStringLiteral(" \u2026\n(the whole text is in the details)");
    } else {
        const qsizetype more = lines.size() - kept.size();
        shown = kept.join(u'\n') +
                QStringLiteral("\n\u2026 and %1 more line%2 (all of them in the details)")
                    .arg(more)
                    .arg(more == 1 ? QString() : QStringLiteral("s"));
    }
    return {shown, text};
}
} // namespace

QString app_title() {
    return QStringLiteral("Tessaly");
}

MsgAnswer msg_box(const QString& text, const QString& title, MsgIcon icon, MsgButtons buttons) {
    MsgRequest req{text, title.isEmpty() ? app_title() : title, icon, buttons};
    if (responder())
        return responder()(req);

    const Shown shown = shown_text(req.text);
    QMessageBox box(to_qt(req.icon), req.title, shown.text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    if (!shown.details.isEmpty())
        box.setDetailedText(shown.details);
    if (buttons == MsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    const int pressed = box.exec();
    if (buttons == MsgButtons::YesNo)
        return pressed == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
    return MsgAnswer::Ok;
}

MsgResponder set_msg_responder(MsgResponder r) {
    MsgResponder previous = std::move(responder());
    responder() = std::move(r);
    return previous;
}

} // namespace tsy
