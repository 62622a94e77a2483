// SPDX-License-Identifier: Apache-2.0
#include "msgrecorder.h"

#include "common/yield.h"

#include <QStringList>

namespace tsy::test {

MsgRecorder::MsgRecorder() {
    m_previous = set_msg_responder([this](const MsgRequest& r) {
        boxes.append(r);
        if (onBox)
            onBox(r);
        if (r.buttons == MsgButtons::YesNo)
            return answers.isEmpty() ? MsgAnswer::No : answers.takeFirst();
        return MsgAnswer::Ok;
    });
}

MsgRecorder::~MsgRecorder() {
    set_msg_responder(std::move(m_previous));
}

QStringList MsgRecorder::texts() const {
    QStringList t;
    for (const MsgRequest& r : boxes)
        t.append(r.text);
    return t;
}

YieldWatcher::YieldWatcher() {
    set_yield_hook([this] {
        ++count;
        if (onYield)
            onYield(count);
    });
}

YieldWatcher::~YieldWatcher() {
    set_yield_hook({});
}

} // namespace tsy::test
