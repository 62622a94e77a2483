// SPDX-License-Identifier: Apache-2.0
#include "common/duplist.h"

#include "cc/failure.h"
#include "common/msgbox.h"

#include <QComboBox>

namespace tsy {

using model::TextList;

namespace {
const QComboBox& checked(const QComboBox* combo) {
    if (!combo)
        throw cc::Failure(QStringLiteral("Object required"));
    return *combo;
}
} // namespace

int ComboTextList::count() const {
    return checked(m_combo).count();
}

QString ComboTextList::text(int index) const {
    const QComboBox& c = checked(m_combo);
    if (index < 0 || index >= c.count())
        throw cc::Failure(QStringLiteral("Invalid list index"));
    return c.itemText(index);
}

bool is_dup_list(const QString& item, const TextList& list) {
    bool found = false;
    try {
        const int n = list.count();
        for (int i = 0; i < n; ++i) {
            if (QString::compare(list.text(i), item, Qt::CaseInsensitive) == 0) {
                found = true;
                break;
            }
        }
    } catch (...) {
        msg_box(QStringLiteral("Error:") + cc::describe_exception(std::current_exception()) +
                    QStringLiteral("::checking dup list::is_dup_list()"),
                QStringLiteral("Error.."), MsgIcon::Critical);
    }
    return found;
}

} // namespace tsy
