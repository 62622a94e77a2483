#include "mainmodule.h"

#include "clearcase/runlocks.h"

#include "frmmain.h"

#include "common/msgbox.h"

#include <QGuiApplication>
#include <QLockFile>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace tsy {

namespace {
QString user_name() {
    for (const char* v : {"USER", "LOGNAME", "USERNAME"}) {
        const QString s = qEnvironmentVariable(v);
        if (!s.isEmpty())
            return s;
    }
#ifndef Q_OS_WIN
    return QString::number(::getuid());
#else
    return QStringLiteral("user");
#endif
}

QString display_name() {
    QString d = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (d.isEmpty())
        d = qEnvironmentVariable("DISPLAY");
    if (d.isEmpty())
        d = QGuiApplication::platformName();
    return d;
}

QString safe(QString s) {
    for (QChar& c : s) {
        if (!c.isLetterOrNumber() && c != u'-' && c != u'_' && c != u'.')
            c = u'_';
    }
    return s;
}
} // namespace

SingleInstance::SingleInstance() = default;
SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath() {
    return runtime_dir() + QStringLiteral("/tessaly-") + safe(user_name()) + QStringLiteral("-") +
           safe(display_name()) + QStringLiteral(".lock");
}

QString SingleInstance::path() const {
    return lockPath();
}

bool SingleInstance::acquire() {
    m_lock = std::make_unique<QLockFile>(lockPath());
    // A lock is stale only when its owner process is gone, however old.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return true;
    if (m_lock->error() == QLockFile::LockFailedError) {
        // tryLock removes a stale lock itself when its process is gone; a
        // lock that stays is held by a live copy.
        return false;
    }
    // The runtime directory cannot take a lock: run without one rather
    // than refuse to run at all.
    return true;
}

std::unique_ptr<frmMain> main_module(SingleInstance& instance,
                                     std::shared_ptr<cc::Backend> backend) {
    if (!instance.acquire()) {
        msg_box(QStringLiteral("Tessaly Already running..."), QString(), MsgIcon::Warning);
        return nullptr;
    }
    auto w = std::make_unique<frmMain>(std::move(backend));
    if (!w->Form_Load())
        return nullptr;
    w->show();
    return w;
}

} // namespace tsy
