// What the tool prints: certificate lines, key bindings and error lines, each kept to one line
// whatever bytes the key store or the command line held.
#pragma once

#include <string>

#include "softcapi/admin/admin.h"

namespace qdie_tool {

extern const char kToolName[];

// "exchange", "signature", or the number for another specification.
std::string keySpecName(DWORD keySpec);
// "exchange" or "signature" to AT_KEYEXCHANGE or AT_SIGNATURE; UsageError for another word.
DWORD parseKeySpec(const std::string& text);

// A container's name as the tool prints it: bare, or quoted when it would read ambiguously.
std::string describeContainerName(const std::string& name);
// container={...} provider="..." type=24 spec=exchange
std::string describeBinding(const softcapi::KeyBinding& binding);
// <THUMBPRINT>  <subject>  <binding, or "no key">
std::string describeCertificate(const softcapi::admin::CertificateEntry& entry);

// The text with control characters and DEL as \xNN, so it cannot break or forge a line.
std::string escapeControls(const std::string& text);

// "qdie-keystore: <message>" on stderr.
void printError(const std::string& message);

}  // namespace qdie_tool
