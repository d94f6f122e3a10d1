#pragma once

// What a file holds, told without a password: for `kivpfx inspect`. Read as the protection run reads
// a source, within the same limits.

#include <string>
#include <vector>

namespace kiv::certificate {

struct KeySummary {
    std::string algorithm;  // "RSA 2048 bits", "EC prime256v1 256 bits", ...
    std::string friendlyName;
};

struct CertificateSummary {
    std::string subject;  // RFC 2253, non-ASCII characters as UTF-8
    std::string issuer;
    std::string notAfter;  // "2027-01-06 12:00:00 UTC"
    bool expired = false;
    std::string friendlyName;
};

struct Inspection {
    // PasswordLess: keyed with the empty password or none, as the protection run loads it.
    // Protected: keyed with some other password. NotPkcs12: empty, too large, or no PKCS#12 file.
    // Unreadable: it could not be read through (missing, damaged, an algorithm that is not
    // available, more key derivation than one file may cause); `detail` says why.
    enum class Kind { PasswordLess, Protected, NotPkcs12, Unreadable };
    Kind kind = Kind::Unreadable;
    std::string detail;  // the reader's description of why it is not password-less
    std::vector<KeySummary> keys;
    std::vector<CertificateSummary> certificates;  // X.509 certificates, in file order
};

// Reads the file at `path` as Load reads a password-less source: the read limit of SourceFile.h,
// the iteration ceiling and the work budget of WorkLimits.h. Never throws.
Inspection InspectFile(const std::string& path);

}  // namespace kiv::certificate
