// SPDX-License-Identifier: Apache-2.0
#include "app/storagecheck.h"

#include "common/msgbox.h"
#include "model/viewlistmodel.h"
#include "progress/progresssink.h"
#include "repair/fixprot.h"
#include "repair/inspection.h"

namespace tsy {

using repair::RepairOutcome;
using repair::RunEngine;
using repair::RunItem;

namespace {
// At most this many tags are named per line of the summary.
constexpr int kNamed = 20;

QString some(const QStringList& tags) {
    QString text = tags.mid(0, kNamed).join(QStringLiteral(", "));
    if (tags.size() > kNamed)
        text += QStringLiteral(" and %1 more").arg(tags.size() - kNamed);
    return text;
}
} // namespace

StorageCheck::StorageCheck(model::ViewListModel& list, ProgressSink& progress, QObject* parent)
    : QObject(parent), m_list(list), m_progress(progress) {}

bool StorageCheck::start(cc::Session& session, const QString& cchome) {
    if (m_running)
        return false;
    repair::RunSettings settings = RunEngine::settingsFor(
        session, cchome, repair::argument_words(repair::default_args(cc::FixProtStyle::Unix)));
    if (settings.style != cc::FixProtStyle::Unix) {
        msg_box(QStringLiteral("Only the storages of UNIX ClearCase views can be checked."),
                QString(), MsgIcon::Information);
        return false;
    }
    QList<RunItem> items;
    for (int i = 0; i < m_list.count(); ++i) {
        if (m_list.isChecked(i))
            items.append(RunItem{i, m_list.tag(i), m_list.host(i), repair::RunMode::Hide});
    }
    if (items.isEmpty()) {
        msg_box(QStringLiteral("No view is ticked: tick the views to check first."), QString(),
                MsgIcon::Information);
        return false;
    }
    settings.inspect = repair::RepairRequest::Inspect::Check;
    // Readings only: a few at once, one per storage host.
    settings.jobs = 4;
    settings.perHost = 1;
    settings.stopOnEndviewFailure = false;
    m_sound.clear();
    m_needed.clear();
    m_notChecked.clear();
    m_groups.clear();
    m_running = true;
    m_abandoned = false;
    m_engine = new RunEngine(session, settings, this);
    connect(m_engine, &RunEngine::viewEnded, this, &StorageCheck::viewDone);
    connect(m_engine, &RunEngine::finished, this, &StorageCheck::end);
    m_progress.start_progress(QStringLiteral("Checking %1 views...").arg(items.size()));
    emit started();
    m_engine->start(items);
    return true;
}

void StorageCheck::abandon() {
    if (!m_running)
        return;
    m_abandoned = true;
    if (m_engine)
        m_engine->stop(true);
}

void StorageCheck::viewDone(const RunItem& item, const RepairOutcome& o) {
    m_progress.set_msg(QStringLiteral("Checked --> ") + item.tag);
    using Kind = RepairOutcome::Kind;
    if (!o.groups.isEmpty())
        m_groups.append(item.tag + QStringLiteral(" (") + o.groups.join(QStringLiteral(", ")) +
                        u')');
    if (o.kind == Kind::Sound)
        m_sound.append(item.id);
    else if (o.kind == Kind::NeedsRepair)
        m_needed.append(item.tag + QStringLiteral(": ") +
                        repair::needs_repair_text(o.found, o.more, o.first, o.firstWhy));
    else if (o.kind != Kind::Abandoned)
        m_notChecked.append(item.tag + QStringLiteral(": ") +
                            (o.message.isEmpty() ? QStringLiteral("not checked") : o.message));
}

void StorageCheck::end() {
    if (!m_running)
        return;
    m_running = false;
    if (m_engine)
        m_engine->deleteLater();
    m_progress.stop_progress();
    if (m_abandoned) {
        emit finished();
        return;
    }
    for (const int row : std::as_const(m_sound))
        m_list.setChecked(row, false);
    emit finished();
    QStringList lines;
    lines << QStringLiteral("%1 sound (unticked), %2 need repair (still ticked), %3 not checked "
                            "(still ticked).")
                 .arg(m_sound.size())
                 .arg(m_needed.size())
                 .arg(m_notChecked.size());
    if (!m_needed.isEmpty())
        lines << QString() << QStringLiteral("Need repair:") << m_needed.mid(0, kNamed);
    if (m_needed.size() > kNamed)
        lines << QStringLiteral("and %1 more").arg(m_needed.size() - kNamed);
    if (!m_notChecked.isEmpty())
        lines << QString() << QStringLiteral("Not checked:") << m_notChecked.mid(0, kNamed);
    if (m_notChecked.size() > kNamed)
        lines << QStringLiteral("and %1 more").arg(m_notChecked.size() - kNamed);
    if (!m_groups.isEmpty())
        lines << QString()
              << QStringLiteral("Additional groups, which fix_prot removes: ") + some(m_groups);
    msg_box(lines.join(QStringLiteral("\r\n")), QString(),
            m_needed.isEmpty() && m_notChecked.isEmpty() ? MsgIcon::Information : MsgIcon::Warning);
}

} // namespace tsy
