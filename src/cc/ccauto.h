// SPDX-License-Identifier: Apache-2.0
#pragma once

// The ClearCase Automation Library as the program sees it: the objects of
// platform/ccauto_api.h with QString texts. The COM library on Windows and
// the in-process fake of the tests implement them; the rest of the program
// reaches them through SyncBackend (session.h). Every failing call throws
// Failure whose description is ClearCase's own error text: these calls are
// the one place the program raises exceptions, and the adapter of
// SyncBackend (session.cpp) the one place that catches them, turning each
// into its job's error. Everything else returns Result.

#include "cc/failure.h"
#include "platform/ccauto_api.h"

#include <QString>

namespace tsy::cc {

using View = plat::ccauto::View<QString>;
using ViewCollection = plat::ccauto::ViewCollection<QString>;
using Application = plat::ccauto::Application<QString>;
using ClearTool = plat::ccauto::ClearTool<QString>;

} // namespace tsy::cc
