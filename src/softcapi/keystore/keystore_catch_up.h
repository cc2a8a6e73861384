// How the caches of a key store file catch up on the changes another connection or process made.
#pragma once

#include "softcapi/keystore/keystore_file_state.h"

namespace softcapi {

// Inside a read transaction: brings the caches to what the file holds now. With the file's
// history that costs what changed since they were filled; without it (a file of an earlier
// version, another file, a history begun anew) they let go of everything.
void catchUp(FileState& state);

}  // namespace softcapi
