// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace tsy::test {

// Writes bytes to path (executable: a program the owner may run); false
// when the file cannot be written.
bool write_file(const QString& path, const QByteArray& bytes, bool executable = false);

// CLEARCASEHOME pointed at a temporary installation for one test: a
// marker bin/cleartool, so the program counts ClearCase as installed.
// The previous value comes back when it goes.
class TempHome {
public:
    explicit TempHome(const QString& subdir = QStringLiteral("cc home"));
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;
    const QString& path() const { return m_path; }
    // Points CLEARCASEHOME elsewhere (e.g. at a simulator home).
    void use(const QString& home);

private:
    QTemporaryDir m_dir;
    QString m_path;
    QByteArray m_saved;
    bool m_had;
};

} // namespace tsy::test
