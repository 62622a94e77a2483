// SPDX-License-Identifier: Apache-2.0
#include "cc/failure.h"

namespace tsy::cc {

QString describe_exception(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const Failure& f) {
        return f.description();
    } catch (const std::exception& ex) {
        return QString::fromLocal8Bit(ex.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

} // namespace tsy::cc
