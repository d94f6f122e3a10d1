#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <deque>
#include <vector>

#include "certificate/OpenSslHandles.h"

namespace kiv::certificate {

// A password as OpenSSL's PKCS#12 calls take it. `data == nullptr` is the "no password at all" that
// some tools key a password-less file with; {"", 0} is the empty password.
struct Pkcs12Password {
    const char* data = nullptr;
    int length = 0;
};

// The PKCS#12 kinds take the password as BMPString and differ in the ID byte of the derivation.
enum class KeyKind {
    Pbkdf2,     // PBES2 encryption keys
    Pkcs12Key,  // a PKCS#12 PBE cipher key (ID 1)
    Pkcs12Iv,   // a PKCS#12 PBE IV (ID 2)
    Pkcs12Mac,  // the PKCS#12 MAC key (ID 3)
};

struct KeyRequest {
    KeyKind kind = KeyKind::Pbkdf2;
    Pkcs12Password password;
    std::vector<unsigned char> salt;
    int iterations = 0;
    const EVP_MD* digest = nullptr;
    std::size_t length = 0;
};

// The keys derived during one save. Writing and then checking the written file need the same
// keys, and each costs thousands of hash rounds; this derives each distinct request once. A
// request matches only when every input of the derivation is the same, so a file whose salt or
// count differs from what was written gets a real derivation. Keys are wiped on destruction.
class DerivedKeys {
  public:
    DerivedKeys() = default;
    DerivedKeys(const DerivedKeys&) = delete;
    DerivedKeys& operator=(const DerivedKeys&) = delete;

    // Derives the requests not known yet: with `parallel`, side by side on this thread and up to two
    // helper threads that live for the whole process; otherwise all on this thread. False when one
    // of them could not be derived.
    bool Prepare(const std::vector<KeyRequest>& requests, bool parallel = true);

    // The key for `request`, derived now when not known yet; null when it cannot be derived. Stays
    // valid as long as this object.
    const Secret* Get(const KeyRequest& request);

    // A new random salt of `length` bytes for a request like `like` (its salt aside). When a key
    // for such a request was made ahead (AnnounceSaves), its salt is returned and its key is known
    // from now on. Empty when no random bytes could be had.
    std::vector<unsigned char> NewSalt(const KeyRequest& like, std::size_t length);

    // True when the key for `request` is known already and Get would not derive it.
    bool Has(const KeyRequest& request) const;

    // How many derivations were actually run.
    std::size_t Derivations() const { return derivations_; }

  private:
    struct Entry {
        KeyKind kind;
        bool noPassword;
        Secret password;
        std::vector<unsigned char> salt;
        int iterations;
        int digest;
        std::size_t length;
        Secret key;
        bool ok = false;
    };

    Entry* Find(const KeyRequest& request);
    const Entry* Find(const KeyRequest& request) const {
        return const_cast<DerivedKeys*>(this)->Find(request);
    }
    Entry& Add(const KeyRequest& request);
    static bool Derive(Entry& entry, const EVP_MD* digest);

    std::deque<Entry> entries_;  // stable addresses for Get's callers and the threads
    std::size_t derivations_ = 0;
};

}  // namespace kiv::certificate
