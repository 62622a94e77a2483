// SPDX-License-Identifier: Apache-2.0
#include "platform/platform.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

namespace plat {

void shell_open(const std::string& address) {
    // The result is not examined: without a browser nothing happens.
    QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
}

} // namespace plat
