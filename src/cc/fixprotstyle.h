#pragma once

namespace tsy::fixprot {

// How the installation's fix_prot wants to be run. Windows ClearCase runs
// it here, on the view's global path, and rebuilds ACLs with -recover.
// UNIX ClearCase has no -recover, needs -chown and -chgrp with -root, and
// runs it as root on the host that holds the storage, on the host-local
// path.
enum class Style { Windows, Unix };

} // namespace tsy::fixprot
