// SPDX-License-Identifier: Apache-2.0
#include "repair/factbatch.h"

#include "cc/lsviewparse.h"
#include "cc/session.h"
#include "repair/fixprot.h"

#include <QStringView>

namespace tsy::repair {

namespace {
// The tags of one call stay far below any command line's limit.
constexpr qsizetype kBatchChars = 16 * 1024;

// A tag cleartool would read as an option, or none at all, is never put in
// a batch: the view's own lookup says what becomes of it.
bool batchable(const QString& tag) {
    return !tag.isEmpty() && !tag.startsWith(u'-');
}
} // namespace

FactBatches::FactBatches(cc::Session& session, QObject* parent)
    : QObject(parent), m_session(session) {}

FactBatches::~FactBatches() {
    abandon();
}

void FactBatches::add(const QString& tag, const QString& host) {
    if (m_byTag.contains(tag))
        return;
    Entry e;
    e.tag = tag;
    e.host = host;
    if (!batchable(tag))
        e.state = Entry::State::Answered;
    const int i = int(m_entries.size());
    QList<int>& ofHost = m_byHost[host];
    e.hostPos = ofHost.size();
    ofHost.append(i);
    m_entries.append(std::move(e));
    m_byTag.insert(tag, i);
}

void FactBatches::answer(const Waiter& w, const QString& record) {
    if (!w.ctx)
        return;
    QMetaObject::invokeMethod(
        w.ctx,
        [ctx = w.ctx, then = w.then, record] {
            if (ctx)
                then(record);
        },
        Qt::QueuedConnection);
}

void FactBatches::want(const QString& tag, QObject* ctx, std::function<void(const QString&)> then) {
    const Waiter w{ctx, std::move(then)};
    const auto it = m_byTag.constFind(tag);
    if (it == m_byTag.cend() || m_abandoned) {
        answer(w, QString());
        return;
    }
    Entry& e = m_entries[*it];
    switch (e.state) {
    case Entry::State::Answered:
        answer(w, e.record);
        // Asked for once: a view started again is looked up afresh.
        e.record.clear();
        return;
    case Entry::State::Asked:
        e.waiters.append(w);
        return;
    case Entry::State::NotAsked:
        e.waiters.append(w);
        send(*it);
        return;
    }
}

QList<std::pair<QString, QString>> FactBatches::heldAfter(const QString& tag, int max) const {
    QList<std::pair<QString, QString>> held;
    const auto it = m_byTag.constFind(tag);
    if (it == m_byTag.cend())
        return held;
    const Entry& from = m_entries.at(*it);
    const QList<int>& ofHost = *m_byHost.constFind(from.host);
    for (qsizetype k = from.hostPos + 1; k < ofHost.size() && held.size() < max; ++k) {
        const Entry& e = m_entries.at(ofHost.at(k));
        if (e.state == Entry::State::Answered && !e.record.isEmpty())
            held.append({e.tag, e.record});
    }
    return held;
}

void FactBatches::send(int first) {
    const QList<int>& ofHost = m_byHost.value(m_entries.at(first).host);
    QList<int> batch{first};
    QStringList words{QStringLiteral("lsview"), QStringLiteral("-long"),
                      QStringLiteral("-properties"), QStringLiteral("-full"),
                      m_entries.at(first).tag};
    qsizetype chars = m_entries.at(first).tag.size();
    m_entries[first].state = Entry::State::Asked;
    // The host's next views, in their order from this one on, then those
    // before it that are still not asked.
    const qsizetype from = m_entries.at(first).hostPos;
    for (qsizetype k = 1; k < ofHost.size() && batch.size() < kBatch; ++k) {
        const int i = ofHost.at((from + k) % ofHost.size());
        Entry& e = m_entries[i];
        if (e.state != Entry::State::NotAsked)
            continue;
        if (chars + e.tag.size() > kBatchChars)
            break;
        chars += e.tag.size();
        e.state = Entry::State::Asked;
        batch.append(i);
        words.append(e.tag);
    }
    cc::CommandJob* job = m_session.command(words, cc::Effect::Query, this);
    m_jobs.append(job);
    connect(job, &cc::Job::finished, this, [this, job, batch] { answered(job, batch); });
}

void FactBatches::answered(cc::CommandJob* job, const QList<int>& entries) {
    m_jobs.removeAll(job);
    job->deleteLater();
    // A failed call (an unknown tag among them, a server that did not
    // answer) answers none of them: each view then learns why on its own.
    const QHash<QString, QString> records =
        job->succeeded() ? records_by_tag(job->output()) : QHash<QString, QString>();
    for (const int i : entries) {
        Entry& e = m_entries[i];
        e.state = Entry::State::Answered;
        e.record = records.value(e.tag);
        const QList<Waiter> waiters = std::exchange(e.waiters, {});
        for (const Waiter& w : waiters)
            answer(w, e.record);
        if (!waiters.isEmpty())
            e.record.clear();
    }
}

void FactBatches::abandon() {
    m_abandoned = true;
    for (const QPointer<cc::CommandJob>& job : std::exchange(m_jobs, {})) {
        if (job) {
            job->disconnect(this);
            job->abandon();
        }
    }
    for (Entry& e : m_entries) {
        for (const Waiter& w : std::exchange(e.waiters, {}))
            answer(w, QString());
    }
}

QHash<QString, QString> FactBatches::records_by_tag(const QString& output) {
    // Cut at each line that begins a record.
    QList<QStringView> pieces;
    QStringView text(output);
    qsizetype start = -1;
    qsizetype at = 0;
    while (at <= text.size()) {
        qsizetype end = text.indexOf(u'\n', at);
        if (end < 0)
            end = text.size();
        if (text.mid(at, end - at).trimmed().startsWith(QLatin1StringView("Tag:"))) {
            if (start >= 0)
                pieces.append(text.mid(start, at - start));
            start = at;
        }
        at = end + 1;
    }
    if (start >= 0)
        pieces.append(text.mid(start));

    QHash<QString, QString> records;
    QHash<QString, int> seen;
    for (const QStringView piece : pieces) {
        const QString record = piece.toString();
        const QList<cc::LsviewRecord> parsed = cc::parse_lsview_long(record.toUtf8());
        if (parsed.size() != 1 || !parsed.first().tag || !parsed.first().problem.isEmpty())
            continue;
        const cc::LsviewRecord& r = parsed.first();
        const QString& tag = *r.tag;
        if (++seen[tag] > 1) {
            records.remove(tag);
            continue;
        }
        QString owner, group;
        owner_and_group(record, owner, group);
        // A global path the short lookup would refuse is left to it.
        if (!checked_storage(r.globalPath.value_or(QString()).trimmed(), tag).ok() ||
            !r.serverHost || !r.accessPath || owner.isEmpty() || group.isEmpty())
            continue;
        records.insert(tag, record);
    }
    return records;
}

} // namespace tsy::repair
