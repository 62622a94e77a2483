// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the tests of the installation's discovery share: the ClearCase
// variables set or cleared for one test, and empty files made where a
// home is expected.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <gtest/gtest.h>

namespace tsy::test {

// Sets or clears the installation variables for one test.
class HomeEnv {
public:
    HomeEnv() : m_cc(qgetenv("CLEARCASEHOME")), m_atria(qgetenv("ATRIAHOME")) {}
    ~HomeEnv() {
        restore("CLEARCASEHOME", m_cc);
        restore("ATRIAHOME", m_atria);
    }
    static void set(const char* name, const QString& v) { qputenv(name, QFile::encodeName(v)); }
    static void unset(const char* name) { qunsetenv(name); }

private:
    static void restore(const char* n, const QByteArray& v) {
        if (v.isNull())
            qunsetenv(n);
        else
            qputenv(n, v);
    }
    QByteArray m_cc, m_atria;
};

inline void touch(const QString& path,
                  QFile::Permissions p = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    f.setPermissions(p);
}

} // namespace tsy::test
