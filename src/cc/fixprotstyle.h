// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace tsy::cc {

// Which kind of ClearCase a backend speaks to, and so how its fix_prot
// wants to be run. Windows ClearCase runs it here, on the view's global
// path, and rebuilds ACLs with -recover. UNIX ClearCase has no -recover,
// needs -chown and -chgrp with -root, and runs it as root on the host that
// holds the storage, on the host-local path.
enum class FixProtStyle { Windows, Unix };

} // namespace tsy::cc
