#include "launcher.h"

namespace tsy {

QString ProgramEnd::describe() const {
    if (!known)
        return reason;
    if (crashed)
        return QStringLiteral("it crashed");
    return QStringLiteral("exit status %1").arg(exitCode);
}

Launch::~Launch() = default;

} // namespace tsy
