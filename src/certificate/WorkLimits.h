#pragma once

// Bounds on the key-derivation work one file may cause, so that no input keeps the window busy:
// a ceiling on the iteration count of any one derivation, and a budget for a whole load or save.

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace kiv::certificate {

// Real tools write 1 to 600,000 (OpenSSL 2048, Windows 2000, Java 10,000, NSS and GnuTLS 600,000).
inline constexpr long kIterationCeiling = 1'000'000;

// Hash rounds (one compression function call each) one load, or one save with its check, may cost:
// about 2 seconds on a small machine. The heaviest real file seen, GnuTLS with 3DES at 600,000
// iterations and three certificates, costs 8.4 million.
inline constexpr std::uint64_t kDerivationBudget = 12'000'000;

// What one derivation costs: the count the file names and the hash rounds it takes.
struct DerivationCost {
    long iterations = 0;
    std::uint64_t rounds = 0;
    bool known = false;  // false when the parameters could not be read; OpenSSL then refuses them itself
};

DerivationCost Pbkdf2Cost(long iterations, const EVP_MD* prf, std::size_t keyLength);
// A PKCS#12 key derivation producing `bytes` (the MAC key, or a cipher's key and IV in turn).
DerivationCost Pkcs12KdfCost(long iterations, const EVP_MD* digest, std::size_t bytes);
// Of the key derivation an encryption AlgorithmIdentifier (PBES2 or PKCS#12/PBES1) asks for.
DerivationCost EncryptionCost(const X509_ALGOR* algorithm);

// "12,000,000"
std::string Grouped(std::uint64_t number);

// Counts the rounds of one file's derivations and refuses the one that would go past the ceiling
// or the budget, saying which part asked for it.
class WorkBudget {
  public:
    explicit WorkBudget(std::uint64_t limit = kDerivationBudget) : limit_(limit) {}

    // True when `part` may derive with `cost`, which is then counted; otherwise `description` says why.
    bool Charge(const DerivationCost& cost, const std::string& part, std::string& description);

    std::uint64_t Spent() const { return spent_; }

  private:
    std::uint64_t limit_;
    std::uint64_t spent_ = 0;
};

}  // namespace kiv::certificate
