#pragma once

#include <functional>
#include <memory>
#include <string>

namespace kiv::certificate {

// Outcome of one certificate call: ok, or a description the user is shown after a status prefix.
struct CallResult {
    bool ok = true;
    std::string description;
    bool targetExists = false;  // Save found a file already at the output path and left it alone

    static CallResult Success() { return {}; }
    static CallResult Failure(std::string text) { return {false, std::move(text), false}; }
};

// One certificate object handles one PKCS#12 file: Load it, then Save a copy.
// Paths and passwords are UTF-8. Neither call throws.
class Certificate {
  public:
    virtual ~Certificate() = default;

    // keyStorageFlag 1: keep the private key exportable; keyLocation 0: the current user's store.
    virtual CallResult Load(const std::string& path, const std::string& password, int keyStorageFlag,
                            int keyLocation) = 0;

    // saveType 0: PKCS#12; includeOption 1: the whole chain. Never replaces an existing file.
    virtual CallResult Save(const std::string& path, const std::string& password, int saveType,
                            int includeOption) = 0;
};

// Makes a fresh certificate object, or nothing when the component is unavailable.
using CertificateFactory = std::function<std::unique_ptr<Certificate>()>;

// The factory of the real component.
CertificateFactory OpenSslCertificateFactory();

}  // namespace kiv::certificate
