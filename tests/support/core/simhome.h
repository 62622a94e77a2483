// SPDX-License-Identifier: Apache-2.0
#pragma once

// A simulated ClearCase installation in a temporary directory, with
// CLEARCASEHOME pointing at it for the length of a test.

#include "temphome.h"

#include <ccsim.h>

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>
#include <string>
#include <vector>

namespace tsy::test {

// Points TESSALY_SSH and TESSALY_SUDO at a home's ssh and sudo stand-ins
// (sudo with -n, as by default) for as long as it lives.
class StandIns {
public:
    explicit StandIns(const ccsim::Home& home);
    ~StandIns();
    StandIns(const StandIns&) = delete;
    StandIns& operator=(const StandIns&) = delete;

private:
    QByteArray m_ssh, m_sudo;
    bool m_hadSsh, m_hadSudo;
};

// fix_prot's words as UNIX ClearCase wants them for v, with the default
// arguments: owner, group and the host-local storage path.
QStringList unix_fix_words(const ccsim::Home& home, const ccsim::View& v);

// ssh's words without the storage lock's command that comes before the
// privilege words (sh -c SCRIPT sh DIR NAME), for tests of what follows.
std::vector<std::string> without_lock_command(std::vector<std::string> args);

// A strict home: its fix_prot behaves as UNIX ClearCase's, and the
// stand-ins take the place of ssh and sudo.
class SimHome {
public:
    // dirName may hold blanks; the simulator must cope with them.
    explicit SimHome(const QString& dirName = QStringLiteral("sim home"));
    ~SimHome();
    SimHome(const SimHome&) = delete;
    SimHome& operator=(const SimHome&) = delete;

    ccsim::Home& home() { return *m_home; }
    QString path() const { return m_path; }
    ccsim::View add(const std::string& tag, const std::string& host = "ccview01");

    // Journal entries of one program, as "prog arg1 arg2..." with the
    // arguments joined by '|', oldest first.
    QStringList journal(const std::string& program = {}) const;

private:
    QTemporaryDir m_dir;
    QString m_path;
    std::optional<ccsim::Home> m_home;
    std::optional<StandIns> m_standIns;
    QByteArray m_saved;
    QByteArray m_savedRuntime;
    QByteArray m_savedHostLocks;
    bool m_had;
};

} // namespace tsy::test
