#include "install.h"

#include "common/msgbox.h"
#include "platform/platform.h"

#include <cstdio>

namespace tsy {

bool get_key_value(std::uint32_t root, const QString& keyPath, const QString& valueName,
                   QString& result) {
    std::string value = result.toLocal8Bit().toStdString();
    const bool ok = plat::get_key_value(root, keyPath.toLocal8Bit().toStdString(),
                                        valueName.toLocal8Bit().toStdString(), value);
    result = QString::fromLocal8Bit(value);
    return ok;
}

bool is_clearcase_installed(QString& home) {
    home.clear();
    try {
        QString local;
        if (!get_key_value(plat::kHKeyLocalMachine,
                           QStringLiteral("SOFTWARE\\Atria\\ClearCase\\CurrentVersion"),
                           QStringLiteral("ProductHome"), local))
            return false;
        if (!plat::holds_cleartool(local.toLocal8Bit().toStdString())) {
            // The box says only that ClearCase is missing; say where it was looked for.
            std::fprintf(stderr, "tessaly: no ClearCase installation found: %s is missing\n",
                         (local + QString::fromLocal8Bit(plat::cleartool_marker()))
                             .toLocal8Bit()
                             .constData());
            return false;
        }
        home = local;
        return true;
    } catch (const plat::FileSearchError& e) {
        // The search for the marker failed: said as file_exists says it.
        msg_box(QString::fromLocal8Bit(plat::file_search_message(e)), QString(), MsgIcon::Critical);
        home.clear();
        return false;
    } catch (const std::exception& e) {
        msg_box(QStringLiteral("Error::") + QString::fromLocal8Bit(e.what()) +
                    QStringLiteral("::not determine if ClearCase is installed"),
                QStringLiteral("Error..."), MsgIcon::Critical);
        home.clear();
        return false;
    }
}

} // namespace tsy
