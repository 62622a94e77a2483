// SPDX-License-Identifier: Apache-2.0
#include "mainmodule.h"

#include "repair/runlocks.h"

#include "frmmain.h"

#include "common/msgbox.h"

#include <QGuiApplication>
#include <QLockFile>

namespace tsy {

namespace {
QString display_name() {
    QString d = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (d.isEmpty())
        d = qEnvironmentVariable("DISPLAY");
    if (d.isEmpty())
        d = QGuiApplication::platformName();
    return d;
}
} // namespace

SingleInstance::SingleInstance() = default;
SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath() {
    return repair::runtime_dir() + QStringLiteral("/tessaly-") + repair::user_for_files() +
           QStringLiteral("-") + repair::fit_for_file_name(display_name()) +
           QStringLiteral(".lock");
}

QString SingleInstance::path() const {
    return lockPath();
}

bool SingleInstance::acquire() {
    // Without a private runtime directory there is nowhere safe to keep
    // the lock: run without one rather than refuse to run at all.
    if (repair::runtime_dir().isEmpty())
        return true;
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
