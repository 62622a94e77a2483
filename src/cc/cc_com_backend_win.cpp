// SPDX-License-Identifier: Apache-2.0
// The Windows backend of the automation interface: the ClearCase
// Automation Library through the Qt-free COM layer. Texts cross between
// QString and the layer's ANSI strings; every COM error becomes a Failure
// with the library's description.
#include "cc/session.h"

#include "platform/ccauto_com_win.h"

#include <string>
#include <utility>

namespace tsy::cc {

namespace {

std::string ansi(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString unicode(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

// Runs one call of the COM layer, turning its errors into Failure.
template <typename Call> auto guarded(Call&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const std::exception& e) {
        throw Failure(QString::fromLocal8Bit(e.what()));
    }
}

class ComView : public View {
public:
    explicit ComView(plat::wincom::View view) : m_view(std::move(view)) {}
    QString tagName() override {
        return guarded([&] { return unicode(m_view.tagName()); });
    }
    QString host() override {
        return guarded([&] { return unicode(m_view.host()); });
    }
    bool isActive() override {
        return guarded([&] { return m_view.isActive(); });
    }
    bool isSnapShot() override {
        return guarded([&] { return m_view.isSnapShot(); });
    }
    bool isUCMView() override {
        return guarded([&] { return m_view.isUCMView(); });
    }
    QString configSpec() override {
        return guarded([&] { return unicode(m_view.configSpec()); });
    }

private:
    plat::wincom::View m_view;
};

class ComViewCollection : public ViewCollection {
public:
    explicit ComViewCollection(plat::wincom::ViewCollection views) : m_views(std::move(views)) {}
    int count() override {
        return guarded([&] { return static_cast<int>(m_views.count()); });
    }
    std::unique_ptr<View> item(int index) override {
        return guarded([&]() -> std::unique_ptr<View> {
            return std::make_unique<ComView>(m_views.item(index));
        });
    }

private:
    plat::wincom::ViewCollection m_views;
};

class ComApplication : public Application {
public:
    explicit ComApplication(plat::wincom::Application app) : m_app(std::move(app)) {}
    std::unique_ptr<ViewCollection> views(bool flag, const QString& region) override {
        return guarded([&]() -> std::unique_ptr<ViewCollection> {
            return std::make_unique<ComViewCollection>(m_app.views(flag, ansi(region)));
        });
    }
    std::unique_ptr<View> view(const QString& tag) override {
        return guarded([&]() -> std::unique_ptr<View> {
            return std::make_unique<ComView>(m_app.view(ansi(tag)));
        });
    }

private:
    plat::wincom::Application m_app;
};

class ComClearTool : public ClearTool {
public:
    explicit ComClearTool(plat::wincom::ClearTool tool) : m_tool(std::move(tool)) {}
    QString cmdExec(const QString& command) override {
        return guarded([&] { return unicode(m_tool.cmdExec(ansi(command))); });
    }

private:
    plat::wincom::ClearTool m_tool;
};

// The library is registered with COM, so the installation directory plays
// no part in making its objects.
class ComBackend : public SyncBackend {
public:
    std::unique_ptr<Application> createApplication(const QString&) override {
        return guarded([]() -> std::unique_ptr<Application> {
            return std::make_unique<ComApplication>(plat::wincom::Application::create());
        });
    }
    std::unique_ptr<ClearTool> createClearTool(const QString&) override {
        return guarded([]() -> std::unique_ptr<ClearTool> {
            return std::make_unique<ComClearTool>(plat::wincom::ClearTool::create());
        });
    }
};

} // namespace

std::shared_ptr<Backend> default_backend() {
    return std::make_shared<ComBackend>();
}

} // namespace tsy::cc
