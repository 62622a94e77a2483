#include "runlocks.h"

namespace tsy {

// Windows: fix_prot is not given an inherited lock; the run lock alone
// keeps two runs of one user apart.
StorageLock::StorageLock(const QString&) {}
StorageLock::~StorageLock() = default;

} // namespace tsy
