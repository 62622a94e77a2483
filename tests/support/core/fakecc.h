// SPDX-License-Identifier: Apache-2.0
#pragma once

// An in-process stand-in for the ClearCase Automation Library: views held
// in memory, failures injected per view and per call, and a record of the
// cleartool commands sent.

#include "cc/session.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace tsy::test {

struct FakeView {
    QString tag;
    QString host;
    bool active = false;
    bool snapshot = false;
    bool ucm = false;
    QString configSpec;
    // Which property reads fail, with this description.
    bool failTag = false;
    bool failHost = false;
    bool failActive = false;
    bool failConfigSpec = false;
    QString failure =
        QStringLiteral("cleartool: Error: Unable to contact albd_server on host 'down'");
};

struct FakeState {
    QList<FakeView> views;
    bool failCollection = false; // the collection cannot be had
    int failItemAt = 0;          // moving to this 1-based item fails
    bool failCreateApplication = false;
    // Answers CmdExec; the default answers "lsview TAG" with a line holding
    // /storage/TAG.vws and everything else with nothing.
    std::function<QString(const QString&)> cmdExec;
    QStringList commands;     // every CmdExec command, in order
    int applicationsMade = 0; // how often the application object was made
    int collectionsMade = 0;
};

class FakeBackend : public cc::SyncBackend {
public:
    FakeBackend() : m_state(std::make_shared<FakeState>()) {}
    FakeState& state() { return *m_state; }
    std::unique_ptr<cc::Application> createApplication(const QString& cchome) override;
    std::unique_ptr<cc::ClearTool> createClearTool(const QString& cchome) override;

private:
    std::shared_ptr<FakeState> m_state;
};

// n views "view00001:hostK", in an order that is not sorted.
QList<FakeView> make_fake_views(int n, int hosts = 7);

} // namespace tsy::test
