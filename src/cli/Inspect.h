#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kiv::cli {

struct InspectedKey {
    std::string algorithm;  // "RSA 2048 bits", "EC prime256v1", ...
    std::string friendlyName;
};

struct InspectedCertificate {
    std::string subject;
    std::string issuer;
    std::string notAfter;  // "2027-01-06 12:00:00 UTC"
    bool expired = false;
    std::string friendlyName;
};

struct Inspection {
    enum class Kind { PasswordLess, Protected, NotPkcs12, Unreadable };
    Kind kind = Kind::Unreadable;
    std::string detail;  // why a file could not be read through
    std::vector<InspectedKey> keys;
    std::vector<InspectedCertificate> certificates;
};

// Tells whether the file at `path` is a password-less PKCS#12 file (and what it holds), one that
// has a password, or no PKCS#12 file at all. Password-less means keyed with the empty password or
// with none, as the protection run loads it.
Inspection InspectFile(const std::string& path);

// Runs `kivpfx inspect`; returns the exit status.
int RunInspect(const std::vector<std::string>& paths, bool json, std::FILE* out, std::FILE* err);

}  // namespace kiv::cli
