// SPDX-License-Identifier: Apache-2.0
#pragma once

// The long records of a run's views, asked of cleartool a batch at a time:
// `lsview -long -properties -full T1 T2 ...` for up to kBatch views of one
// storage host. A run over a site then starts one cleartool for a batch
// instead of two for each view, and a host whose view server does not
// answer holds up only its own views.
//
// A batch is only a shortcut. What it does not answer cleanly (a failed
// or cut call, an unknown tag, a record that is not whole or not alone) is
// answered empty, and the view is looked up on its own, whose lookups then
// say what is wrong.

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

namespace tsy::cc {
class Session;
class CommandJob;
} // namespace tsy::cc

namespace tsy::repair {

class FactBatches : public QObject {
    Q_OBJECT

public:
    static constexpr int kBatch = 25;

    explicit FactBatches(cc::Session& session, QObject* parent = nullptr);
    ~FactBatches() override;

    // A view of the run, in the order the views are meant to start.
    void add(const QString& tag, const QString& host);
    // Calls then with the record of tag, on a later turn of the event loop
    // and never once ctx is gone: its lines of the batch's output, or empty
    // when the view is to be looked up on its own. Asking for a view not
    // yet asked sends its batch: it and the next views of its host not yet
    // asked.
    void want(const QString& tag, QObject* ctx, std::function<void(const QString&)> then);
    // The records held for the views after tag on its host, in the order
    // they are meant to start, up to max: tag and record of each view whose
    // batch has answered and who has not taken its record yet.
    QList<std::pair<QString, QString>> heldAfter(const QString& tag, int max) const;
    // Nothing more is asked; the calls at work stop and answer nobody.
    void abandon();

    // The record of each tag in output, by tag: the lines from its "Tag:"
    // line to the next. A tag whose record is not alone, or does not parse
    // as a whole record of that tag with its owner and group, is left out.
    static QHash<QString, QString> records_by_tag(const QString& output);

private:
    struct Waiter {
        QPointer<QObject> ctx;
        std::function<void(const QString&)> then;
    };
    struct Entry {
        QString tag;
        QString host;
        enum class State { NotAsked, Asked, Answered } state = State::NotAsked;
        qsizetype hostPos = 0; // its place among its host's entries
        QString record;
        QList<Waiter> waiters;
    };

    void send(int first);
    void answered(cc::CommandJob* job, const QList<int>& entries);
    static void answer(const Waiter& w, const QString& record);

    cc::Session& m_session;
    QList<Entry> m_entries;
    QHash<QString, int> m_byTag;
    QHash<QString, QList<int>> m_byHost; // the entries of each host, in order
    QList<QPointer<cc::CommandJob>> m_jobs;
    bool m_abandoned = false;
};

} // namespace tsy::repair
