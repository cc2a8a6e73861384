// Where a store or key container lives, as Windows' system store locations and key sets say it:
// the current user's, or the local machine's, which every user reads and only root changes.
#pragma once

namespace softcapi {

enum class Location { CurrentUser, LocalMachine };

}  // namespace softcapi
