// SPDX-License-Identifier: Apache-2.0
#pragma once

// The inspections of a run's storages, a host's several at once: one
// command on the storage host reads up to kBatch storages one after the
// other, as the account that reaches it, and tells each storage's output,
// error output and exit status apart. A check of a site then costs one
// remote shell for a batch instead of one for each view.
//
// A batch is only a shortcut. What it does not answer whole (a failed or
// lost connection, an output past its limit, a storage whose lock a repair
// held when it was read) is answered empty, and the view is inspected on
// its own, which then says what is wrong.

#include "repair/fixprot.h"
#include "repair/inspection.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>

#include <functional>
#include <optional>

namespace tsy::repair {

// A storage to inspect: whose view it is, where, and to whom it belongs.
struct InspectTarget {
    QString tag, host, storage, owner, group;
    bool operator==(const InspectTarget&) const = default;
};

class InspectionBatches : public QObject {
    Q_OBJECT

public:
    static constexpr int kBatch = 25;
    // A batch keeps up to this many bytes: the answers it holds for views
    // still to start and the storage it is reading. Past it the batch ends
    // and its remaining storages are inspected alone, each with its own
    // limit; a run over many hosts so holds a bounded amount for each.
    static constexpr qsizetype kBatchLimit = 256 * 1024;

    // The storages of the views that are to start after first on its host,
    // up to max, as far as their facts are known already.
    using Peers = std::function<QList<InspectTarget>(const InspectTarget& first, int max)>;

    InspectionBatches(Reach reach, Peers peers, QObject* parent = nullptr);
    ~InspectionBatches() override;

    // Asks for t's inspection. True: then is called on a later turn, and
    // never once ctx is gone, with the answer, or with none when the view is
    // to be inspected on its own. False: no batch holds or would hold t
    // (it has no peers): inspect it alone now.
    bool want(const InspectTarget& t, QObject* ctx,
              std::function<void(std::optional<InspectionEnd>)> then);
    // Nothing more is asked; the batches at work end and answer nobody.
    void abandon();

    // The words that inspect the storages of targets, all on one host,
    // with the storage lock probed in hostLockDir.
    static QStringList words(const Reach& reach, const QList<InspectTarget>& targets,
                             const QString& hostLockDir);
    // The same as the command log shows it.
    static QStringList shownWords(const Reach& reach, const QList<InspectTarget>& targets);
    // Takes the whole answers at the start of out off it, in order: each
    // storage's records, then a record "\1STATUS\tERRORS".
    static QList<InspectionEnd> takeAnswers(QByteArray& out);

private:
    struct Waiter {
        QPointer<QObject> ctx;
        std::function<void(std::optional<InspectionEnd>)> then;
    };
    struct Member {
        InspectTarget target;
        bool answered = false;
        std::optional<InspectionEnd> end; // held until the view asks
        QList<Waiter> waiters;
    };
    struct Batch {
        QPointer<QProcess> process;
        QList<InspectTarget> targets; // in the order the command reads them
        qsizetype next = 0;           // the first not yet answered
        QByteArray out;
        qsizetype held = 0; // bytes of its answers held for views to come
        QStringList shown;
        qint64 startedMs = 0;
    };

    void send(const QList<InspectTarget>& targets);
    void read(Batch* b);
    void ended(Batch* b, const QString& how);
    // Gives t its answer, or holds it for t's view: true when held.
    bool answer(const InspectTarget& t, std::optional<InspectionEnd> end);
    static void call(const Waiter& w, const std::optional<InspectionEnd>& end);

    Reach m_reach;
    Peers m_peers;
    QHash<QString, Member> m_members;
    QList<Batch*> m_batches;
    bool m_abandoned = false;
};

} // namespace tsy::repair
