// SPDX-License-Identifier: Apache-2.0
#include "fakecc.h"

namespace tsy::test {

using cc::Failure;

namespace {

class View : public cc::View {
public:
    explicit View(FakeView v) : m_v(std::move(v)) {}
    QString tagName() override {
        if (m_v.failTag)
            throw Failure(m_v.failure);
        return m_v.tag;
    }
    QString host() override {
        if (m_v.failHost)
            throw Failure(m_v.failure);
        return m_v.host;
    }
    bool isActive() override {
        if (m_v.failActive)
            throw Failure(m_v.failure);
        return m_v.active;
    }
    bool isSnapShot() override { return m_v.snapshot; }
    bool isUCMView() override { return m_v.ucm; }
    QString configSpec() override {
        if (m_v.failConfigSpec)
            throw Failure(m_v.failure);
        return m_v.configSpec;
    }

private:
    FakeView m_v;
};

class Collection : public cc::ViewCollection {
public:
    explicit Collection(std::shared_ptr<FakeState> s) : m_s(std::move(s)) {}
    int count() override { return int(m_s->views.size()); }
    std::unique_ptr<cc::View> item(int index) override {
        if (index == m_s->failItemAt)
            throw Failure(QStringLiteral("Unable to move to the next view"));
        if (index < 1 || index > m_s->views.size())
            throw Failure(QStringLiteral("Invalid index"));
        return std::make_unique<View>(m_s->views.at(index - 1));
    }

private:
    std::shared_ptr<FakeState> m_s;
};

class Application : public cc::Application {
public:
    explicit Application(std::shared_ptr<FakeState> s) : m_s(std::move(s)) {}
    std::unique_ptr<cc::ViewCollection> views(bool, const QString&) override {
        if (m_s->failCollection)
            throw Failure(QStringLiteral("cleartool: Error: Unable to get the view list"));
        ++m_s->collectionsMade;
        return std::make_unique<Collection>(m_s);
    }
    std::unique_ptr<cc::View> view(const QString& tag) override {
        for (const FakeView& v : m_s->views) {
            if (v.tag == tag)
                return std::make_unique<View>(v);
        }
        throw Failure(
            QStringLiteral("cleartool: Error: No matching entries found for view tag \"") + tag +
            QStringLiteral("\"."));
    }

private:
    std::shared_ptr<FakeState> m_s;
};

class ClearTool : public cc::ClearTool {
public:
    explicit ClearTool(std::shared_ptr<FakeState> s) : m_s(std::move(s)) {}
    QString cmdExec(const QString& command) override {
        m_s->commands.append(command);
        if (m_s->cmdExec)
            return m_s->cmdExec(command);
        if (command.startsWith(QLatin1StringView("lsview "))) {
            const QString tag = command.mid(7);
            return QStringLiteral("  ") + tag + QStringLiteral("  /storage/") + tag +
                   QStringLiteral(".vws\n");
        }
        return QString();
    }

private:
    std::shared_ptr<FakeState> m_s;
};

} // namespace

std::unique_ptr<cc::Application> FakeBackend::createApplication(const QString&) {
    if (m_state->failCreateApplication)
        throw Failure(QStringLiteral("ActiveX component can't create object"));
    ++m_state->applicationsMade;
    return std::make_unique<Application>(m_state);
}

std::unique_ptr<cc::ClearTool> FakeBackend::createClearTool(const QString&) {
    return std::make_unique<ClearTool>(m_state);
}

QList<FakeView> make_fake_views(int n, int hosts) {
    QList<FakeView> out;
    out.reserve(n);
    // A multiplicative walk over 0..n-1 gives every number once, unsorted.
    const qint64 step = 7919;
    for (qint64 i = 0; i < n; ++i) {
        const qint64 k = (i * step) % n;
        FakeView v;
        v.tag = QStringLiteral("view%1").arg(k, 6, 10, QLatin1Char('0'));
        v.host = QStringLiteral("host%1").arg(k % hosts);
        out.append(v);
    }
    return out;
}

} // namespace tsy::test
