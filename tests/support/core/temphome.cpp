// SPDX-License-Identifier: Apache-2.0
#include "temphome.h"

#include <QDir>
#include <QFile>

namespace tsy::test {

TempHome::TempHome(const QString& subdir)
    : m_saved(qgetenv("CLEARCASEHOME")), m_had(qEnvironmentVariableIsSet("CLEARCASEHOME")) {
    m_path = m_dir.path() + QStringLiteral("/") + subdir;
    QDir().mkpath(m_path + QStringLiteral("/bin"));
    QFile f(m_path + QStringLiteral("/bin/cleartool"));
    if (f.open(QIODevice::WriteOnly))
        f.write("#!/bin/sh\nexit 0\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    use(m_path);
}

TempHome::~TempHome() {
    if (m_had)
        qputenv("CLEARCASEHOME", m_saved);
    else
        qunsetenv("CLEARCASEHOME");
}

void TempHome::use(const QString& home) {
    qputenv("CLEARCASEHOME", QFile::encodeName(home));
}

bool write_file(const QString& path, const QByteArray& bytes, bool executable) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return !executable || f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace tsy::test
