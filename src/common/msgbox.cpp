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
} // namespace

QString app_title() {
    return QStringLiteral("Tessaly");
}

MsgAnswer msg_box(const QString& text, const QString& title, MsgIcon icon, MsgButtons buttons) {
    MsgRequest req{text, title.isEmpty() ? app_title() : title, icon, buttons};
    if (responder())
        return responder()(req);

    QMessageBox box(to_qt(req.icon), req.title, req.text, QMessageBox::NoButton,
                    QApplication::activeWindow());
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
