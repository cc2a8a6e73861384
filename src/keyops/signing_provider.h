// The provider-side steps of signing before anything is hashed: moving a legacy provider to the
// newer one of its key algorithm, the parent of the provider's dialogs, acquiring the container
// with its fallbacks, listing the provider's algorithms, and the PIN.
#pragma once

#include "keyops/call_context.h"
#include "keyops/certificate_lookup.h"
#include "keyops/handles.h"

namespace keyops {

enum class Substitution { Kept, Replaced, Refused };

// A certificate of one of the five legacy Microsoft providers moves to the AES provider with key
// algorithm "RSA" and to the DSS/DH provider with "DSA"; any other name is refused.
Substitution substituteLegacyProvider(const char* keyAlgorithm, KeyBinding& binding);

// Logs the step, then makes the foreground window, if any, the parent of provider dialogs.
void setPopupParent(CallContext& context);

// CryptAcquireContextA on the binding; on NTE_KEYSET_NOT_DEF or NTE_BAD_KEYSET it tries the
// prototype AES provider, then the enhanced one. False, with the error logged and status 6
// recorded, when none worked.
bool acquireSigningContainer(CallContext& context, const KeyBinding& binding,
                             ScopedProvider& provider);

// One log line per algorithm the provider lists.
void logAlgorithms(CallContext& context, HCRYPTPROV provider);

// Gives the provider the PIN of the key `pinParameter` names (PP_SIGNATURE_PIN,
// PP_KEYEXCHANGE_PIN); a refusal is not reported and does not stop the call.
void applyPin(CallContext& context, HCRYPTPROV provider, DWORD pinParameter, const char* pin);

}  // namespace keyops
