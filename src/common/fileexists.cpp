// SPDX-License-Identifier: Apache-2.0
#include "common/fileexists.h"

#include "common/msgbox.h"
#include "platform/platform.h"

namespace tsy {

bool file_exists(const QString& path, const bool& directories) {
    const plat::FileSearch search =
        plat::file_exists(path.toLocal8Bit().toStdString(), directories == true);
    if (search.failed) {
        msg_box(QStringLiteral("Error determining file exist --> ") + path + QStringLiteral("::") +
                    QString::fromLocal8Bit(search.description),
                QString(), MsgIcon::Critical);
        return false;
    }
    return search.found;
}

} // namespace tsy
