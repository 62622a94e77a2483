// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <functional>

namespace tsy {

enum class MsgIcon { None, Information, Warning, Critical };
enum class MsgButtons { Ok, YesNo };
enum class MsgAnswer { Ok, Yes, No };

struct MsgRequest {
    QString text;
    QString title; // as shown: never empty
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
};

// The application's title, shown above every box that brings none of its own.
QString app_title();

// Every message of the program goes through here. An empty title shows the
// application's title. Yes is the default button of a Yes/No box. A text
// of many lines shows its first lines, with the whole text in the box's
// details, so that the box fits the screen; a responder gets it whole.
MsgAnswer msg_box(const QString& text, const QString& title = QString(),
                  MsgIcon icon = MsgIcon::None, MsgButtons buttons = MsgButtons::Ok);

// Replaces the modal QMessageBox with a scripted responder; an empty
// responder restores the real box. Returns the previous responder.
using MsgResponder = std::function<MsgAnswer(const MsgRequest&)>;
MsgResponder set_msg_responder(MsgResponder responder);

} // namespace tsy
