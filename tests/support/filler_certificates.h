// Certificates that only fill a store: self-signed, one cheap key shared by all.
#pragma once

#include <vector>

using CertificateEncodings = std::vector<std::vector<unsigned char>>;

CertificateEncodings fillerCertificates(int count);
