// SPDX-License-Identifier: Apache-2.0
#pragma once

// The ClearCase Automation Library as the program sees it: the application
// object (view collection, view by tag), the ClearTool object (command
// execution) and view objects, as synchronous calls. The COM library on
// Windows and the in-process fake of the tests implement them; the rest of
// the program reaches them through SyncBackend (session.h). Every failing
// call throws Failure whose description is ClearCase's own error text:
// these calls are the one place the program raises exceptions, and the
// adapter of SyncBackend (session.cpp) the one place that catches them,
// turning each into its job's error. Everything else returns Result.

#include "cc/failure.h"

#include <QString>

#include <memory>

namespace tsy::cc {

class View {
public:
    virtual ~View() = default;
    virtual QString tagName() = 0;
    virtual QString host() = 0;
    virtual bool isActive() = 0;
    virtual bool isSnapShot() = 0;
    virtual bool isUCMView() = 0;
    virtual QString configSpec() = 0;
};

// Counted from 1, as the library's collections are.
class ViewCollection {
public:
    virtual ~ViewCollection() = default;
    virtual int count() = 0;
    virtual std::unique_ptr<View> item(int index) = 0;
};

class Application {
public:
    virtual ~Application() = default;
    virtual std::unique_ptr<ViewCollection> views(bool flag, const QString& region) = 0;
    virtual std::unique_ptr<View> view(const QString& tag) = 0;
};

class ClearTool {
public:
    virtual ~ClearTool() = default;
    // A cleartool command line without the tool's own name; the output.
    virtual QString cmdExec(const QString& command) = 0;
};

} // namespace tsy::cc
