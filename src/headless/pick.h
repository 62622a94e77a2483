// SPDX-License-Identifier: Apache-2.0
#pragma once

// Which views of the listing a run takes: --all or --match, narrowed by
// --host and --tags, less those --exclude leaves out. A pure function of the options and the
// listing, so that every pick can be tried without ClearCase.

#include "options.h"

#include <QList>
#include <QStringList>

namespace tsy::model {
class ViewListModel;
}

namespace tsy::headless {

struct Picked {
    QList<int> rows;     // the rows of the list picked, in its order
    QStringList unknown; // lines of --tags that name no listed view, each once, in their order
    QStringList unread;  // views the listing could not read that the picks may hold
    QStringList noMatch; // the narrowing picks as given, when they matched no view
};

// The views of list that o picks. unread: the names of the views the
// listing could not read; their hosts are unknown, so one is kept when its
// tag may be picked. caseSensitiveTags: whether tags differing in letter
// case are different views (UNIX ClearCase), for --tags.
Picked pick(const Options& o, const model::ViewListModel& list, const QStringList& unread,
            bool caseSensitiveTags);

} // namespace tsy::headless
