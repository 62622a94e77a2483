// SPDX-License-Identifier: Apache-2.0
#include "repair/launcher.h"

namespace tsy::repair {

QString ProgramEnd::describe() const {
    if (!known)
        return reason;
    const QString what =
        crashed ? QStringLiteral("it crashed") : QStringLiteral("exit status %1").arg(exitCode);
    return message.isEmpty() || succeeded() ? what : what + QStringLiteral(": ") + message;
}

Launch::~Launch() = default;

} // namespace tsy::repair
