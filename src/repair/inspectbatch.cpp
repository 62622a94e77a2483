// SPDX-License-Identifier: Apache-2.0
#include "repair/inspectbatch.h"

#include "process/childprocess.h"
#include "process/runlog.h"
#include "repair/runlocks.h"

#include <QDateTime>

#include <utility>

namespace tsy::repair {

InspectionBatches::InspectionBatches(Reach reach, Peers peers, QObject* parent)
    : QObject(parent), m_reach(std::move(reach)), m_peers(std::move(peers)) {}

InspectionBatches::~InspectionBatches() {
    abandon();
}

QStringList InspectionBatches::words(const Reach& reach, const QList<InspectTarget>& targets,
                                     const QString& hostLockDir) {
    QStringList each;
    for (const InspectTarget& t : targets)
        each << t.owner << t.group << t.storage << host_lock_name(t.storage);
    return batch_inspection_words(reach, targets.value(0).host, hostLockDir, each);
}

QStringList InspectionBatches::shownWords(const Reach& reach, const QList<InspectTarget>& targets) {
    QStringList each;
    for (const InspectTarget& t : targets)
        each << t.owner << t.group << t.storage;
    return shown_batch_inspection_words(reach, targets.value(0).host, each);
}

QList<InspectionEnd> InspectionBatches::takeAnswers(QByteArray& out) {
    QList<InspectionEnd> answers;
    qsizetype start = 0; // where the answer being read begins
    qsizetype at = 0;    // where the record being read begins
    for (;;) {
        const qsizetype end = out.indexOf('\0', at);
        if (end < 0)
            break;
        if (out.at(at) == '\1') {
            InspectionEnd e;
            const qsizetype tab = out.indexOf('\t', at);
            const qsizetype cut = tab >= 0 && tab < end ? tab : end;
            bool ok = false;
            e.exitCode = out.mid(at + 1, cut - at - 1).toInt(&ok);
            if (!ok)
                e.exitCode = 1;
            if (cut < end)
                e.err = out.mid(cut + 1, end - cut - 1);
            e.out = out.mid(start, at - start);
            answers.append(std::move(e));
            start = end + 1;
        }
        at = end + 1;
    }
    out.remove(0, start);
    return answers;
}

bool InspectionBatches::want(const InspectTarget& t, QObject* ctx,
                             std::function<void(std::optional<InspectionEnd>)> then) {
    if (m_abandoned)
        return false;
    const Waiter w{ctx, std::move(then)};
    const auto it = m_members.find(t.tag);
    if (it != m_members.end() && it->target == t) {
        if (!it->answered) {
            it->waiters.append(w);
            return true;
        }
        // Taken once: a view inspected again is read afresh.
        std::optional<InspectionEnd> held = std::exchange(it->end, std::nullopt);
        m_members.erase(it);
        if (!held)
            return false;
        call(w, held);
        return true;
    }
    QList<InspectTarget> targets{t};
    for (const InspectTarget& peer : m_peers(t, kBatch - 1)) {
        if (peer.host == t.host && peer.tag != t.tag && !m_members.contains(peer.tag))
            targets.append(peer);
    }
    // A storage alone is inspected as every other: by itself.
    if (targets.size() < 2)
        return false;
    send(targets);
    m_members[t.tag].waiters.append(w);
    return true;
}

void InspectionBatches::send(const QList<InspectTarget>& targets) {
    auto* b = new Batch;
    b->targets = targets;
    m_batches.append(b);
    for (const InspectTarget& t : targets) {
        Member& m = m_members[t.tag];
        m = Member{};
        m.target = t;
    }
    const QStringList words = InspectionBatches::words(m_reach, targets, host_lock_dir());
    b->shown = shownWords(m_reach, targets);
    b->startedMs = QDateTime::currentMSecsSinceEpoch();
    auto* p = new QProcess(this);
    b->process = p;
    p->setProgram(words.first());
    p->setArguments(words.mid(1));
    p->setStandardInputFile(QProcess::nullDevice());
    // Each storage's error output comes in its own record. What the remote
    // shell itself says goes nowhere: a storage the batch does not answer
    // is read alone, and that reading says it again. One pipe fewer to
    // watch a batch, while up to one a host is at work beside a repair.
    p->setStandardErrorFile(QProcess::nullDevice());
    // A session of its own, like every query: a Ctrl-C meant for Tessaly
    // does not end it under the run's feet; the run ends it.
    process::put_in_own_session(*p);
    connect(p, &QProcess::readyReadStandardOutput, this, [this, b] { read(b); });
    connect(p, &QProcess::finished, this, [this, b](int code, QProcess::ExitStatus status) {
        read(b);
        ended(b, status == QProcess::CrashExit ? QStringLiteral("it crashed")
                                               : QStringLiteral("exit status %1").arg(code));
    });
    connect(p, &QProcess::errorOccurred, this, [this, b](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended(b, b->process->program() + QStringLiteral(": ") + b->process->errorString());
    });
    p->start(QIODevice::ReadOnly);
}

void InspectionBatches::read(Batch* b) {
    if (!b->process)
        return;
    b->out += b->process->readAllStandardOutput();
    for (InspectionEnd& e : takeAnswers(b->out)) {
        if (b->next >= b->targets.size())
            break;
        const qsizetype size = e.out.size() + e.err.size();
        if (answer(b->targets.at(b->next++), std::move(e)))
            b->held += size;
    }
    // What is not taken yet is one storage's records: past the limit, the
    // rest are read alone.
    if (b->held + b->out.size() > kBatchLimit) {
        b->process->disconnect(this);
        process::end_session(b->process);
        b->process = nullptr;
        ended(b, QStringLiteral("cut: over %1 bytes of records").arg(kBatchLimit));
    }
}

void InspectionBatches::ended(Batch* b, const QString& how) {
    if (!m_batches.removeOne(b))
        return;
    process::log_command(b->shown, how, QDateTime::currentMSecsSinceEpoch() - b->startedMs);
    if (b->process) {
        b->process->disconnect(this);
        b->process->deleteLater();
    }
    // The storages it did not get to are inspected alone.
    while (b->next < b->targets.size())
        answer(b->targets.at(b->next++), std::nullopt);
    delete b;
}

bool InspectionBatches::answer(const InspectTarget& t, std::optional<InspectionEnd> end) {
    const auto it = m_members.find(t.tag);
    if (it == m_members.end() || it->answered || !(it->target == t))
        return false;
    const QList<Waiter> waiters = std::exchange(it->waiters, {});
    if (!waiters.isEmpty()) {
        for (const Waiter& w : waiters)
            call(w, end);
        m_members.erase(it);
        return false;
    }
    it->answered = true;
    // A repair at work when the storage was read may be over when its view
    // starts: that view asks again then.
    if (!end || end->exitCode == kInspectionBusy)
        return false;
    it->end = std::move(end);
    return true;
}

void InspectionBatches::call(const Waiter& w, const std::optional<InspectionEnd>& end) {
    if (!w.ctx)
        return;
    QMetaObject::invokeMethod(
        w.ctx,
        [ctx = w.ctx, then = w.then, end] {
            if (ctx)
                then(end);
        },
        Qt::QueuedConnection);
}

void InspectionBatches::abandon() {
    m_abandoned = true;
    for (Batch* b : std::exchange(m_batches, {})) {
        if (b->process) {
            b->process->disconnect(this);
            // Only a reading: it and what it started end now.
            process::end_session(b->process);
        }
        delete b;
    }
    for (Member& m : m_members) {
        for (const Waiter& w : std::exchange(m.waiters, {}))
            call(w, std::nullopt);
    }
    m_members.clear();
}

} // namespace tsy::repair
