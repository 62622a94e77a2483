// SPDX-License-Identifier: Apache-2.0
#include "about.h"

#include "common/artwork.h"

#include "common/msgbox.h"
#include "platform/platform.h"

namespace tsy {

QString about_text() {
    const QString crlf = QStringLiteral("\r\n");
    return QStringLiteral("Tessaly repairs the protections of ClearCase view storage. "
                          "This software is provided as is, without warranty of any kind, "
                          "either expressed or implied.  ") +
           QStringLiteral("The entire risk as to the quality and performance of the program "
                          "is with you; in no event shall the authors be liable for any damages "
                          "arising from the use of this software.  ") +
           crlf + crlf +
           QStringLiteral("Use it only on views that you administer, and only where your site's "
                          "policies allow such changes, in accordance with applicable laws.  ") +
           QStringLiteral("Stopping a view server interrupts the work of its users.") + crlf +
           crlf + QStringLiteral("Email all bugs to: ") + vendor_support_email() +
           QStringLiteral(" (Tessaly is licensed under the Apache License, Version 2.0)") + crlf;
}

void show_about() {
    msg_box(about_text(), QStringLiteral("About TSY"), MsgIcon::Information);
}

void open_vendor_link() {
    plat::shell_open(vendor_address().toLocal8Bit().toStdString());
}

} // namespace tsy
