#include "childprocess.h"

#include <QProcess>

#include <unistd.h>

namespace tsy {

void put_in_own_session(QProcess& p) {
    p.setChildProcessModifier([] { ::setsid(); });
}

} // namespace tsy
