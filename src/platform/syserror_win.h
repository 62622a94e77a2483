// SPDX-License-Identifier: Apache-2.0
#pragma once

// The system's own description of a Win32 error or HRESULT code, shared
// by the Windows layer's files.

#include <string>

namespace plat {

// FormatMessage's text for code, without the line break it puts at the
// end; empty when the system has none.
std::string system_text(unsigned long code);

// That text, or "System error N" when there is none.
std::string system_message(unsigned long code);

} // namespace plat
