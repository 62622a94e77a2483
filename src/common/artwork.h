// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QIcon>
#include <QPixmap>

namespace tsy {

// The program's own pictures, drawn in code so that they scale with the
// screen's pixel ratio.
QIcon app_icon();
QPixmap app_icon_pixmap(int size, qreal dpr = 1.0);
QPixmap logo_banner(qreal dpr = 1.0);        // 615 x 40
QPixmap decorative_picture(qreal dpr = 1.0); // 126 x 94

// The vendor's addresses.
QString vendor_host();    // www.orvane.example
QString vendor_address(); // https://www.orvane.example/
QString vendor_support_email();

} // namespace tsy
