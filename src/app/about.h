// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

namespace tsy {

// The About box's notice: two paragraphs and the support address.
QString about_text();
void show_about();
// Opens the vendor's web site in the user's browser; nothing is reported.
void open_vendor_link();

} // namespace tsy
