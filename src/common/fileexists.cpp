// SPDX-License-Identifier: Apache-2.0
#include "common/fileexists.h"

#include "common/msgbox.h"
#include "platform/platform.h"

namespace tsy {

bool file_exists(const QString& path, const bool& directories) {
    try {
        return plat::file_exists(path.toLocal8Bit().toStdString(), directories == true);
    } catch (const std::exception& e) {
        msg_box(QStringLiteral("Error determining file exist --> ") + path + QStringLiteral("::") +
                    QString::fromLocal8Bit(e.what()),
                QString(), MsgIcon::Critical);
        return false;
    }
}

} // namespace tsy
