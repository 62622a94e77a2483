// SPDX-License-Identifier: Apache-2.0
#include "simhome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace tsy::test {

namespace {
// One word for a POSIX shell: single-quoted, a quote inside as '\''.
QByteArray word(const std::string& path) {
    QString p = QString::fromStdString(path);
    p.replace(QStringLiteral("'"), QStringLiteral("'\\''"));
    return QFile::encodeName(QStringLiteral("'") + p + QStringLiteral("'"));
}
} // namespace

StandIns::StandIns(const ccsim::Home& home)
    : m_ssh(qgetenv("TESSALY_SSH")), m_sudo(qgetenv("TESSALY_SUDO")),
      m_hadSsh(qEnvironmentVariableIsSet("TESSALY_SSH")),
      m_hadSudo(qEnvironmentVariableIsSet("TESSALY_SUDO")) {
    qputenv("TESSALY_SSH", word(home.sshPath()));
    qputenv("TESSALY_SUDO", word(home.sudoPath()) + " -n");
}

StandIns::~StandIns() {
    const auto restore = [](const char* name, bool had, const QByteArray& value) {
        if (had)
            qputenv(name, value);
        else
            qunsetenv(name);
    };
    restore("TESSALY_SSH", m_hadSsh, m_ssh);
    restore("TESSALY_SUDO", m_hadSudo, m_sudo);
}

QStringList unix_fix_words(const ccsim::Home& home, const ccsim::View& v) {
    const auto q = [](const std::string& t) {
        return QString::fromStdString(t);
    };
    return {q(home.fixProtPath()),
            QStringLiteral("-force"),
            QStringLiteral("-root"),
            QStringLiteral("-recurse"),
            QStringLiteral("-chown"),
            q(v.owner),
            QStringLiteral("-chgrp"),
            q(v.group),
            q(v.storage)};
}

SimHome::SimHome(const QString& dirName)
    : m_saved(qgetenv("CLEARCASEHOME")), m_had(qEnvironmentVariableIsSet("CLEARCASEHOME")) {
    m_path = QDir(m_dir.path()).canonicalPath() + QStringLiteral("/") + dirName;
    m_home.emplace(ccsim::Home::create(QFile::encodeName(m_path).toStdString()));
    m_home->setStrict(true);
    m_standIns.emplace(*m_home);
    qputenv("CLEARCASEHOME", QFile::encodeName(m_path));
    // A runtime directory of its own: run lock and repair records of one
    // home never meet another test's.
    const QString runtime = m_dir.path() + QStringLiteral("/run");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    // This machine's storage locks, where the ssh stand-in puts those of
    // the host it is named by.
    const QString hostLocks = QString::fromStdString(m_home->hostLockDir(m_home->localHost()));
    QDir().mkpath(QFileInfo(hostLocks).path());
    m_savedHostLocks = qgetenv("TESSALY_HOST_LOCK_DIR");
    qputenv("TESSALY_HOST_LOCK_DIR", QFile::encodeName(hostLocks));
}

SimHome::~SimHome() {
    qputenv("TESSALY_HOST_LOCK_DIR", m_savedHostLocks);
    qputenv("XDG_RUNTIME_DIR", m_savedRuntime);
    if (m_had)
        qputenv("CLEARCASEHOME", m_saved);
    else
        qunsetenv("CLEARCASEHOME");
}

ccsim::View SimHome::add(const std::string& tag, const std::string& host) {
    ccsim::View v;
    v.tag = tag;
    v.host = host;
    return m_home->addView(v);
}

std::vector<std::string> without_lock_command(std::vector<std::string> args) {
    for (std::size_t i = 0; i + 6 <= args.size(); ++i)
        if (args[i] == "sh" && args[i + 1] == "-c" && args[i + 3] == "sh") {
            args.erase(args.begin() + std::ptrdiff_t(i), args.begin() + std::ptrdiff_t(i + 6));
            break;
        }
    return args;
}

QStringList SimHome::journal(const std::string& program) const {
    QStringList out;
    for (const ccsim::JournalEntry& e : m_home->journal()) {
        if (!program.empty() && e.program != program)
            continue;
        QStringList parts{QString::fromStdString(e.program)};
        for (const std::string& a : e.program == "ssh" ? without_lock_command(e.args) : e.args)
            parts.append(QString::fromStdString(a));
        out.append(parts.join(u'|'));
    }
    return out;
}

} // namespace tsy::test
