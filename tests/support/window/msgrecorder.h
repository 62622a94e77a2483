// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "common/msgbox.h"
#include "qtprint.h"

#include <QList>
#include <QString>

#include <functional>

namespace tsy::test {

// Answers every message box for the length of a test and keeps what it
// was shown. Yes/No boxes take answers from a queue (No once it is empty).
class MsgRecorder {
public:
    MsgRecorder();
    ~MsgRecorder();
    MsgRecorder(const MsgRecorder&) = delete;
    MsgRecorder& operator=(const MsgRecorder&) = delete;

    QList<MsgRequest> boxes;
    QList<MsgAnswer> answers;
    // Runs inside the box, before it is answered.
    std::function<void(const MsgRequest&)> onBox;

    const MsgRequest& last() const { return boxes.last(); }
    QStringList texts() const;

private:
    MsgResponder m_previous;
};

// Counts yields and runs an action inside the n-th one.
class YieldWatcher {
public:
    YieldWatcher();
    ~YieldWatcher();
    int count = 0;
    std::function<void(int)> onYield;
};

} // namespace tsy::test
