#include "childprocess.h"

#include <QProcess>

#include <fcntl.h>
#include <unistd.h>

namespace tsy {

void put_in_own_session(QProcess& p, int keepFd) {
    p.setChildProcessModifier([keepFd] {
        ::setsid();
        // Only async-signal-safe calls between fork and exec.
        if (keepFd >= 0)
            ::fcntl(keepFd, F_SETFD, 0);
    });
}

} // namespace tsy
