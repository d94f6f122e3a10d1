#pragma once

// Which format a PKCS#12 file is protected in, told from its algorithm identifiers alone: no
// password is needed and nothing is decrypted. For `kivpfx inspect`, the check of a written copy and
// the look at an output name that is taken.

#include <optional>
#include <span>
#include <string>

#include "certificate/Certificate.h"

namespace kiv::certificate {

struct FileFormat {
    // Set when the integrity check and every key and encrypted part use one format Save writes.
    std::optional<SaveOptions::Algorithms> algorithms;
    // For a person: "AES-256 (PBES2, AES-256-CBC, HMAC-SHA256)", or what each part uses.
    std::string description;
};

// The format of the DER-encoded file `der`; "an unknown format" when it is no PKCS#12 file.
FileFormat FormatOf(std::span<const unsigned char> der);

}  // namespace kiv::certificate
