// SPDX-License-Identifier: Apache-2.0
#include "artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace tsy {

namespace {
const QColor kDeep(0x1d, 0x3b, 0x5c);
const QColor kTeal(0x2a, 0x8c, 0x8c);
const QColor kSand(0xf2, 0xe6, 0xc9);

QPixmap canvas(int w, int h, qreal dpr) {
    QPixmap pm(qRound(w * dpr), qRound(h * dpr));
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    return pm;
}

// A tessellated shield: three interlocking tiles, the program's mark.
void draw_mark(QPainter& p, const QRectF& r) {
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = qMin(r.width(), r.height());
    const QPointF o = r.center() - QPointF(s / 2, s / 2);
    QPainterPath shield;
    shield.moveTo(o + QPointF(s * 0.5, s * 0.04));
    shield.lineTo(o + QPointF(s * 0.94, s * 0.2));
    shield.cubicTo(o + QPointF(s * 0.94, s * 0.62), o + QPointF(s * 0.75, s * 0.85),
                   o + QPointF(s * 0.5, s * 0.97));
    shield.cubicTo(o + QPointF(s * 0.25, s * 0.85), o + QPointF(s * 0.06, s * 0.62),
                   o + QPointF(s * 0.06, s * 0.2));
    shield.closeSubpath();
    p.setPen(QPen(kDeep, qMax(1.0, s / 16)));
    p.setBrush(kSand);
    p.drawPath(shield);
    p.setPen(Qt::NoPen);
    const qreal t = s * 0.2;
    const QPointF c = o + QPointF(s * 0.5, s * 0.47);
    p.setBrush(kTeal);
    p.drawRect(QRectF(c.x() - t, c.y() - t, t, t));
    p.setBrush(kDeep);
    p.drawRect(QRectF(c.x(), c.y() - t, t, t));
    p.drawRect(QRectF(c.x() - t, c.y(), t, t));
    p.setBrush(kTeal);
    p.drawRect(QRectF(c.x(), c.y(), t, t));
}
} // namespace

QString vendor_host() {
    return QStringLiteral("www.orvane.example");
}
QString vendor_address() {
    return QStringLiteral("https://www.orvane.example/");
}
QString vendor_support_email() {
    return QStringLiteral("support@orvane.example");
}

QPixmap app_icon_pixmap(int size, qreal dpr) {
    QPixmap pm = canvas(size, size, dpr);
    QPainter p(&pm);
    draw_mark(p, QRectF(0, 0, size, size));
    return pm;
}

QIcon app_icon() {
    static const QIcon icon = [] {
        QIcon i;
        for (int s : {16, 32, 48, 64, 128, 256})
            i.addPixmap(app_icon_pixmap(s));
        return i;
    }();
    return icon;
}

QPixmap logo_banner(qreal dpr) {
    const int w = 615, h = 40;
    QPixmap pm = canvas(w, h, dpr);
    QPainter p(&pm);
    QLinearGradient g(0, 0, w, 0);
    g.setColorAt(0, kDeep);
    g.setColorAt(1, kTeal);
    p.fillRect(QRect(0, 0, w, h), g);
    draw_mark(p, QRectF(6, 4, 32, 32));
    p.setPen(kSand);
    QFont f(QStringLiteral("Sans Serif"));
    f.setPixelSize(20);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(48, 0, 260, h), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("ORVANE"));
    f.setPixelSize(12);
    f.setBold(false);
    p.setFont(f);
    p.drawText(QRect(w - 330, 0, 320, h), Qt::AlignVCenter | Qt::AlignRight,
               QStringLiteral("Tessaly - ClearCase view protection repair"));
    return pm;
}

QPixmap decorative_picture(qreal dpr) {
    const int w = 126, h = 94;
    QPixmap pm = canvas(w, h, dpr);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // A small wall of tiles, some repaired (teal), some not (sand).
    const int tile = 14;
    for (int row = 0; row < h / tile + 1; ++row) {
        for (int col = 0; col < w / tile + 1; ++col) {
            const int x = col * tile + ((row % 2) ? tile / 2 : 0) - tile / 2;
            const QRect r(x, row * tile, tile - 2, tile - 2);
            const bool fixed = ((row * 7 + col * 3) % 5) < 3;
            p.fillRect(r, fixed ? kTeal : kSand);
        }
    }
    draw_mark(p, QRectF(w / 2.0 - 24, h / 2.0 - 24, 48, 48));
    return pm;
}

} // namespace tsy
