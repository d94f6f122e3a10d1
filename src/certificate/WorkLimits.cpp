#include "certificate/WorkLimits.h"

namespace kiv::certificate {
namespace {

// SHA-384/512 work on 128-byte blocks with 64-bit words, about twice the time per round here.
std::uint64_t Weight(const EVP_MD* digest) {
    return digest != nullptr && EVP_MD_get_block_size(digest) >= 128 ? 2 : 1;
}

std::uint64_t Blocks(std::size_t bytes, const EVP_MD* digest) {
    const int size = digest != nullptr ? EVP_MD_get_size(digest) : 0;
    if (size <= 0) return 1;
    return bytes == 0 ? 1 : (bytes + static_cast<std::size_t>(size) - 1) / static_cast<std::size_t>(size);
}

}  // namespace

DerivationCost Pbkdf2Cost(long iterations, const EVP_MD* prf, std::size_t keyLength) {
    if (iterations <= 0) return {};
    // HMAC: an inner and an outer round per iteration and output block.
    return {iterations, static_cast<std::uint64_t>(iterations) * 2 * Blocks(keyLength, prf) * Weight(prf),
            true};
}

DerivationCost Pkcs12KdfCost(long iterations, const EVP_MD* digest, std::size_t bytes) {
    if (iterations <= 0) return {};
    return {iterations, static_cast<std::uint64_t>(iterations) * Blocks(bytes, digest) * Weight(digest),
            true};
}

DerivationCost ScryptCost(long n, long r, long p) {
    if (n <= 0 || r <= 0 || p <= 0) return {};
    // Each of p lanes mixes 2N times 2r Salsa20/8 blocks, each about a hash round.
    const double work = 4.0 * static_cast<double>(n) * static_cast<double>(r) * static_cast<double>(p);
    return {n, work >= 1e18 ? UINT64_MAX : static_cast<std::uint64_t>(work), true};
}

std::string Grouped(std::uint64_t number) {
    std::string digits = std::to_string(number);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return digits;
}

bool WorkBudget::Charge(const DerivationCost& cost, const std::string& part, std::string& description) {
    if (!cost.known) return true;
    if (cost.iterations > kIterationCeiling) {
        description = "The " + part + " asks for " + Grouped(static_cast<std::uint64_t>(cost.iterations)) +
                      " iterations of key derivation; at most " + Grouped(kIterationCeiling) +
                      " are accepted.";
        return false;
    }
    if (cost.rounds > limit_ - spent_) {
        description = "The file asks for more key derivation work than one file may cause: the " + part +
                      " would bring it past " + Grouped(limit_) + " hash rounds.";
        return false;
    }
    spent_ += cost.rounds;
    return true;
}

}  // namespace kiv::certificate
