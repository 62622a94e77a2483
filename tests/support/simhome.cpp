#include "simhome.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace tsy::test {

SimHome::SimHome(const QString& dirName)
    : m_saved(qgetenv("CLEARCASEHOME")), m_had(qEnvironmentVariableIsSet("CLEARCASEHOME")) {
    m_path = QDir(m_dir.path()).canonicalPath() + QStringLiteral("/") + dirName;
    m_home.emplace(ccsim::Home::create(QFile::encodeName(m_path).toStdString()));
    qputenv("CLEARCASEHOME", QFile::encodeName(m_path));
}

SimHome::~SimHome() {
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

QStringList SimHome::journal(const std::string& program) const {
    QStringList out;
    for (const ccsim::JournalEntry& e : m_home->journal()) {
        if (!program.empty() && e.program != program)
            continue;
        QStringList parts{QString::fromStdString(e.program)};
        for (const std::string& a : e.args)
            parts.append(QString::fromStdString(a));
        out.append(parts.join(u'|'));
    }
    return out;
}

} // namespace tsy::test
