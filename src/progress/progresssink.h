// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

namespace tsy {

// Where a long operation shows that it is under way: a message naming
// what it is at, shown from its start to its stop. The main window hands
// its own to each controller that runs one.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;

    // Shows the progress with msg; an empty msg keeps the last message.
    virtual void start_progress(const QString& msg) = 0;
    virtual void stop_progress() = 0;
    virtual void set_msg(const QString& msg) = 0;
};

} // namespace tsy
