// SPDX-License-Identifier: Apache-2.0
#include "cc/session.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace tsy::cc {

void Job::succeed() {
    if (m_done)
        return;
    m_done = true;
    emit finished();
}

void Job::fail(const QString& error) {
    if (m_done)
        return;
    m_done = true;
    m_failed = true;
    m_error = error.isEmpty() ? QStringLiteral("Unknown error") : error;
    emit finished();
}

namespace {

// The automation objects of one session, made when first needed.
struct SyncObjects {
    SyncBackend* backend = nullptr;
    QString cchome;
    std::unique_ptr<Application> app;
    std::unique_ptr<ClearTool> tool;

    Application& application() {
        if (!app)
            app = backend->createApplication(cchome);
        if (!app)
            throw Failure(QStringLiteral("ActiveX component can't create object"));
        return *app;
    }
    ClearTool& clearTool() {
        if (!tool)
            tool = backend->createClearTool(cchome);
        if (!tool)
            throw Failure(QStringLiteral("ActiveX component can't create object"));
        return *tool;
    }
};

// Runs step on a later turn of the event loop unless the job went or was
// abandoned meanwhile.
template <class J> void later(J* job, const bool* abandoned, std::function<void()> step) {
    QTimer::singleShot(0, job, [job, abandoned, step = std::move(step)] {
        if (!*abandoned && !job->isDone())
            step();
    });
}

class SyncCommand : public CommandJob {
public:
    SyncCommand(std::shared_ptr<SyncObjects> o, QStringList words, QObject* parent)
        : CommandJob(parent), m_o(std::move(o)) {
        later(this, &m_abandoned, [this, words] {
            try {
                setOutput(m_o->clearTool().cmdExec(words.join(u' ')));
            } catch (...) {
                fail(describe_exception(std::current_exception()));
                return;
            }
            succeed();
        });
    }
    void abandon() override { m_abandoned = true; }

private:
    std::shared_ptr<SyncObjects> m_o;
    bool m_abandoned = false;
};

class SyncDetails : public DetailsJob {
public:
    SyncDetails(std::shared_ptr<SyncObjects> o, const QString& tag, QObject* parent)
        : DetailsJob(parent), m_o(std::move(o)) {
        later(this, &m_abandoned, [this, tag] {
            ViewDetails d;
            try {
                std::unique_ptr<View> v = m_o->application().view(tag);
                setViewFound();
                d.active = v->isActive();
                d.snapshot = v->isSnapShot();
                d.ucm = v->isUCMView();
                d.host = v->host();
                d.configSpec = v->configSpec();
            } catch (...) {
                fail(describe_exception(std::current_exception()));
                return;
            }
            setDetails(std::move(d));
            succeed();
        });
    }
    void abandon() override { m_abandoned = true; }

private:
    std::shared_ptr<SyncObjects> m_o;
    bool m_abandoned = false;
};

class SyncListing : public ListingJob {
public:
    SyncListing(std::shared_ptr<SyncObjects> o, QObject* parent)
        : ListingJob(parent), m_o(std::move(o)) {
        later(this, &m_abandoned, [this] { open(); });
    }
    void abandon() override { m_abandoned = true; }

private:
    void open() {
        try {
            // The region argument selects nothing narrower: every view.
            m_views = m_o->application().views(false, QString());
            m_report.total = m_views->count();
        } catch (...) {
            noteFailure(describe_exception(std::current_exception()));
            m_report.failedBefore = true;
            succeed();
            return;
        }
        next();
    }

    // Reads views for a few milliseconds, then gives the event loop a turn:
    // a turn for each view would spend more on the loop than on the views.
    // Each view's handler may yield on its own meanwhile.
    void next() {
        QElapsedTimer slice;
        slice.start();
        do {
            if (m_index > m_report.total) {
                succeed();
                return;
            }
            if (!readOne() || m_abandoned || isDone())
                return;
        } while (slice.elapsed() < kSliceMs);
        later(this, &m_abandoned, [this] { next(); });
    }

    // The view at m_index; false when the enumeration has ended.
    bool readOne() {
        const int i = m_index++;
        std::unique_ptr<View> v;
        try {
            v = m_views->item(i);
        } catch (...) {
            // Moving on to the next view failed: the enumeration ends.
            noteFailure(describe_exception(std::current_exception()));
            m_report.unreadable += m_report.total - i + 1;
            succeed();
            return false;
        }
        QString tag;
        QString host;
        bool read = false;
        try {
            tag = v->tagName();
            host = v->host();
            read = true;
        } catch (...) {
            noteFailure(describe_exception(std::current_exception()));
            ++m_report.unreadable;
        }
        if (read)
            emit viewListed(tag, host);
        else
            emit viewUnreadable(m_report.lastFailure);
        return true;
    }

    static constexpr int kSliceMs = 8;
    std::shared_ptr<SyncObjects> m_o;
    std::unique_ptr<ViewCollection> m_views;
    int m_index = 1;
    bool m_abandoned = false;
};

class SyncSession : public Session {
public:
    SyncSession(SyncBackend* backend, QString cchome) : m_o(std::make_shared<SyncObjects>()) {
        m_o->backend = backend;
        m_o->cchome = std::move(cchome);
    }
    ListingJob* listViews(QObject* parent) override { return new SyncListing(m_o, parent); }
    FixProtStyle fixProtStyle() const override { return FixProtStyle::Windows; }
    CommandJob* command(const QStringList& words, Effect, QObject* parent) override {
        return new SyncCommand(m_o, words, parent);
    }
    DetailsJob* details(const QString& tag, QObject* parent) override {
        return new SyncDetails(m_o, tag, parent);
    }

private:
    std::shared_ptr<SyncObjects> m_o;
};

} // namespace

std::unique_ptr<Session> SyncBackend::createSession(const QString& cchome) {
    return std::make_unique<SyncSession>(this, cchome);
}

void ListingJob::noteFailure(const QString& description) {
    m_report.lastFailure = description;
    if (!m_errorsSeen.contains(description)) {
        m_errorsSeen.insert(description);
        m_report.errors.append(description);
    }
}

void ListingJob::noteSideFailure(const QString& description) {
    m_report.sideFailure = description;
    if (!m_errorsSeen.contains(description)) {
        m_errorsSeen.insert(description);
        m_report.errors.append(description);
    }
}

QString report_text(const ListingReport& r) {
    if (!r.failedBefore && r.unreadable == 0 && r.sideFailure.isEmpty())
        return QString();
    const QString failure = r.lastFailure.isEmpty() ? r.sideFailure : r.lastFailure;
    QString text = QStringLiteral("ClearTool returned error: ") + failure;
    if (r.unreadable > 0) {
        text += QStringLiteral("\r\n%1 of %2 views could not be read and are not listed.")
                    .arg(r.unreadable)
                    .arg(r.total);
    }
    if (!r.unreadNames.isEmpty()) {
        // Each view that was lost is named, so that it can be looked at.
        constexpr int kShown = 20;
        const int named = std::max<int>(r.unreadNames.size(), r.unreadable);
        text += QStringLiteral("\r\nNot listed: ") +
                QStringList(r.unreadNames.mid(0, kShown)).join(QStringLiteral(", "));
        if (named > kShown)
            text += QStringLiteral(" and %1 more").arg(named - kShown);
    }
    if (!r.sideFailure.isEmpty() && r.sideFailure != failure)
        text += QStringLiteral("\r\n") + r.sideFailure;
    return text;
}

} // namespace tsy::cc
