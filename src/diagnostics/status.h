// The two process-wide words Java reads after a failed call: the status word (the outcome the
// last operation recorded) and the provider-error word (the Windows error of the last signing
// that failed in the provider). Both start at 0; the last writer wins.
#pragma once

#include <cstdint>

namespace diagnostics {

constexpr uint32_t kStatusSuccess = 0;
constexpr uint32_t kStatusHashNotDestroyed = 3;
constexpr uint32_t kStatusHashNotCreated = 4;
constexpr uint32_t kStatusContextNotReleased = 5;
constexpr uint32_t kStatusNoKeyContainer = 6;
constexpr uint32_t kStatusStoreNotOpened = 7;
constexpr uint32_t kStatusCertificateNotFound = 8;
constexpr uint32_t kStatusStoreNotClosed = 9;
constexpr uint32_t kStatusKeyProvInfoUnreadable = 10;
constexpr uint32_t kStatusSignatureFailed = 11;
constexpr uint32_t kStatusSignatureSizeUnknown = 13;
constexpr uint32_t kStatusKeyProvInfoSizeUnknown = 14;
constexpr uint32_t kStatusHashNotReady = 15;
constexpr uint32_t kStatusDecryptionFailed = 22;
constexpr uint32_t kStatusNoExchangeKey = 23;
// Outcomes only the provider's natives hand out (store maintenance records none of them in the
// status word): the store refused to add or to delete the certificate.
constexpr uint32_t kStatusCertificateNotAdded = 24;
constexpr uint32_t kStatusCertificateNotDeleted = 25;
// The provider's signing by its own padding (RSASSA-PSS): the key's provider refused the raw
// private-key operation.
constexpr uint32_t kStatusNoRawOperation = 26;
// The provider's signing through CNG: a CSP's key that CNG cannot see (NCryptTranslateHandle
// refused it), or a CNG key whose algorithm cannot make the signature asked for.
constexpr uint32_t kStatusNoCngKey = 27;
// Keys made and installed by the provider: a key its new container did not take (imported) or
// make (generated), a certificate that could not be bound to its key's container, a container
// that could not be deleted.
constexpr uint32_t kStatusKeyNotImported = 28;
constexpr uint32_t kStatusKeyNotGenerated = 29;
constexpr uint32_t kStatusCertificateNotBound = 30;
constexpr uint32_t kStatusContainerNotDeleted = 31;

void recordStatus(uint32_t code);
uint32_t lastStatus();

void recordProviderError(uint32_t error);
uint32_t providerError();

}  // namespace diagnostics
