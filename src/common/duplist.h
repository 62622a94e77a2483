// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "model/textlist.h"

#include <QString>

class QComboBox;

namespace tsy {

// A combo box seen as a TextList. A null box fails when it is read.
class ComboTextList final : public model::TextList {
public:
    explicit ComboTextList(const QComboBox* combo) : m_combo(combo) {}
    int count() const override;
    QString text(int index) const override;

private:
    const QComboBox* m_combo;
};

// Whether item equals an entry of list as a whole text, ignoring letter
// case. A failure reading the list is reported in a box, and the result
// reached so far is returned.
bool is_dup_list(const QString& item, const model::TextList& list);

} // namespace tsy
