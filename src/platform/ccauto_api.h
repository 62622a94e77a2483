// SPDX-License-Identifier: Apache-2.0
#pragma once

// The objects of the ClearCase Automation Library as the program uses
// them: the application object (view collection, view by tag), the
// ClearTool object (command execution) and view objects, as synchronous
// calls. Declared here once, Qt-free, for any text type: cc/ccauto.h names
// them with QString, which the program and its test fakes use, and the
// COM layer (ccauto_com_win.h) implements them for the text type its user
// gives it.

#include <memory>

namespace plat::ccauto {

template <typename Text> class View {
public:
    virtual ~View() = default;
    virtual Text tagName() = 0;
    virtual Text host() = 0;
    virtual bool isActive() = 0;
    virtual bool isSnapShot() = 0;
    virtual bool isUCMView() = 0;
    virtual Text configSpec() = 0;
};

// Counted from 1, as the library's collections are.
template <typename Text> class ViewCollection {
public:
    virtual ~ViewCollection() = default;
    virtual int count() = 0;
    virtual std::unique_ptr<View<Text>> item(int index) = 0;
};

template <typename Text> class Application {
public:
    virtual ~Application() = default;
    virtual std::unique_ptr<ViewCollection<Text>> views(bool flag, const Text& region) = 0;
    virtual std::unique_ptr<View<Text>> view(const Text& tag) = 0;
};

template <typename Text> class ClearTool {
public:
    virtual ~ClearTool() = default;
    // A cleartool command line without the tool's own name; the output.
    virtual Text cmdExec(const Text& command) = 0;
};

} // namespace plat::ccauto
