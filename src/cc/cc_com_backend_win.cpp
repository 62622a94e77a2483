// SPDX-License-Identifier: Apache-2.0
// The Windows backend of the automation interface: the ClearCase
// Automation Library through the Qt-free COM layer, whose objects
// implement the interface for QString once told how texts cross between
// QString and the ANSI code page, and that every COM error becomes a
// Failure with the library's description.
#include "cc/session.h"

#include "platform/ccauto_com_win.h"

#include <exception>
#include <string>

namespace tsy::cc {

namespace {

struct QtTexts {
    using Text = QString;
    static std::string ansi(const QString& text) {
        const QByteArray bytes = text.toLocal8Bit();
        return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    static QString text(const std::string& encoded) {
        return QString::fromLocal8Bit(encoded.data(), static_cast<qsizetype>(encoded.size()));
    }
    // Runs one call of the COM layer, turning its errors into Failure.
    template <typename Call> static auto guard(Call&& call) -> decltype(call()) {
        try {
            return call();
        } catch (const std::exception& e) {
            throw Failure(QString::fromLocal8Bit(e.what()));
        }
    }
};

// The library is registered with COM, so the installation directory plays
// no part in making its objects.
class ComBackend : public SyncBackend {
public:
    std::unique_ptr<Application> createApplication(const QString&) override {
        return plat::wincom::create_application<QtTexts>();
    }
    std::unique_ptr<ClearTool> createClearTool(const QString&) override {
        return plat::wincom::create_cleartool<QtTexts>();
    }
};

} // namespace

std::shared_ptr<Backend> default_backend() {
    return std::make_shared<ComBackend>();
}

} // namespace tsy::cc
