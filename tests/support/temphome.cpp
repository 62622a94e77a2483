// SPDX-License-Identifier: Apache-2.0
#include "temphome.h"
#include "ui.h"

#include "fakecc.h"

#include "app/frmmain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>

#include <gtest/gtest.h>

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

FakeWindow::FakeWindow() : backend(std::make_shared<FakeBackend>()) {
    w = std::make_unique<frmMain>(backend);
    EXPECT_TRUE(w->Form_Load());
}

FakeWindow::~FakeWindow() {
    w.reset();
}

QList<QWidget*> designed_tab_order(frmMain& w) {
    return {ui(w).cancelBut,
            ui(w).viewsList,
            ui(w).executeFixProtBut,
            ui(w).actionCombo,
            ui(w).selectAllBut,
            ui(w).clearAllBut,
            ui(w).filterBut,
            ui(w).filterPatternTxt,
            ui(w).loadViewsBut,
            ui(w).filterActionCombo,
            ui(w).caseInsensitiveCB,
            ui(w).selectItemsFoundCB,
            ui(w).selectAllByPatternCB,
            ui(w).selectAllByPatternTxt,
            ui(w).actionArgsTxt,
            ui(w).runModeCombo,
            ui(w).aboutBut};
}

bool write_file(const QString& path, const QByteArray& bytes, bool executable) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return !executable || f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace tsy::test
