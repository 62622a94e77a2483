// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

namespace tsy::model {

// What is_dup_list needs of a list or combo box: the entry count and the
// text of an entry counted from 0. Either may fail by throwing.
class TextList {
public:
    virtual ~TextList() = default;
    virtual int count() const = 0;
    virtual QString text(int index) const = 0;
};

} // namespace tsy::model
