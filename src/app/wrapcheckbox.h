// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QCheckBox>

namespace tsy {

// A check box whose caption wraps onto several lines when it is narrower
// than its text, as a two-line-high design check box does.
class WrapCheckBox : public QCheckBox {
    Q_OBJECT

public:
    explicit WrapCheckBox(const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

} // namespace tsy
