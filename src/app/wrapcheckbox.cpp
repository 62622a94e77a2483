// SPDX-License-Identifier: Apache-2.0
#include "wrapcheckbox.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace tsy {

WrapCheckBox::WrapCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {}

void WrapCheckBox::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);
    const QString caption = opt.text;
    opt.text.clear();
    const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &opt, this);
    // The indicator sits level with the first line of text.
    opt.rect = QRect(indicator.left(), 0, indicator.width(), height());
    QStyleOptionButton ind = opt;
    ind.rect = QRect(indicator.left(), (fontMetrics().height() - indicator.height()) / 2 + 1,
                     indicator.width(), indicator.height());
    p.drawPrimitive(QStyle::PE_IndicatorCheckBox, ind);
    const int textLeft =
        indicator.right() + 1 + style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing);
    const QRect textRect(textLeft, 0, width() - textLeft, height());
    p.drawItemText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, opt.palette,
                   isEnabled(), caption, QPalette::WindowText);
    if (hasFocus()) {
        QStyleOptionFocusRect fr;
        fr.initFrom(this);
        fr.rect = textRect.adjusted(-1, 0, 0, 0);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, fr);
    }
}

bool WrapCheckBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

} // namespace tsy
