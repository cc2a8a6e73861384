// Signing data, or a precomputed hash, with the key of a certificate from the personal store.
#pragma once

#include <vector>

#include "keyops/call_context.h"

namespace keyops {

// Finds the certificate, opens its key container (moving certificates of a legacy Microsoft
// provider to the newer provider of their key algorithm), hashes and signs there, and gives the
// signature most significant byte first. Every step is logged. True on success with the
// signature in `signature`; false on failure with the context's outcome telling why and
// `signature` empty.
bool signWithCertificate(CallContext& context, const BYTE* encoding, DWORD encodingLength,
                         ALG_ID digestAlgorithm, const char* keyAlgorithm, const BYTE* data,
                         DWORD dataLength, std::vector<BYTE>& signature, const char* pin,
                         bool dataIsHash);

}  // namespace keyops
