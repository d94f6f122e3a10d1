#include "platform/certificate/DerivedKeys.h"

#include <openssl/crypto.h>
#include <openssl/pkcs12.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <thread>

namespace kiv::certificate {

bool DerivedKeys::Derive(Entry& entry, const EVP_MD* digest) {
    if (digest == nullptr || entry.iterations <= 0 || entry.length == 0 || entry.length > INT_MAX ||
        entry.salt.size() > INT_MAX || entry.password.size() > INT_MAX) {
        return false;
    }
    const char* password = entry.noPassword ? nullptr : reinterpret_cast<const char*>(entry.password.data());
    // data() of an empty vector may be null, which would read as "no password".
    static const char kEmpty[] = "";
    if (!entry.noPassword && entry.password.size() == 0) password = kEmpty;
    const int passwordLength = static_cast<int>(entry.password.size());
    auto* salt = const_cast<unsigned char*>(entry.salt.data());
    const int saltLength = static_cast<int>(entry.salt.size());
    const int length = static_cast<int>(entry.length);
    if (entry.kind == KeyKind::Pbkdf2) {
        return PKCS5_PBKDF2_HMAC(password, passwordLength, salt, saltLength, entry.iterations, digest, length,
                                 entry.key.data()) == 1;
    }
    return PKCS12_key_gen_utf8_ex(password, passwordLength, salt, saltLength, PKCS12_MAC_ID, entry.iterations,
                                  length, entry.key.data(), digest, nullptr, nullptr) == 1;
}

DerivedKeys::Entry* DerivedKeys::Find(const KeyRequest& request) {
    const bool noPassword = request.password.data == nullptr;
    const std::size_t passwordLength = noPassword ? 0 : static_cast<std::size_t>(request.password.length);
    const int digest = request.digest != nullptr ? EVP_MD_get_type(request.digest) : NID_undef;
    for (Entry& entry : entries_) {
        if (entry.kind == request.kind && entry.noPassword == noPassword &&
            entry.password.size() == passwordLength && entry.salt == request.salt &&
            entry.iterations == request.iterations && entry.digest == digest &&
            entry.length == request.length &&
            (passwordLength == 0 ||
             CRYPTO_memcmp(entry.password.data(), request.password.data, passwordLength) == 0)) {
            return &entry;
        }
    }
    return nullptr;
}

DerivedKeys::Entry& DerivedKeys::Add(const KeyRequest& request) {
    const bool noPassword = request.password.data == nullptr;
    const std::size_t passwordLength =
        noPassword || request.password.length < 0 ? 0 : static_cast<std::size_t>(request.password.length);
    Entry& entry = entries_.emplace_back(
        Entry{request.kind, noPassword, SecureBytes(passwordLength), request.salt, request.iterations,
              request.digest != nullptr ? EVP_MD_get_type(request.digest) : NID_undef, request.length,
              SecureBytes(request.length)});
    if (passwordLength > 0) std::memcpy(entry.password.data(), request.password.data, passwordLength);
    return entry;
}

bool DerivedKeys::Prepare(const std::vector<KeyRequest>& requests) {
    struct Job {
        Entry* entry;
        const EVP_MD* digest;
    };
    std::vector<Job> jobs;
    for (const KeyRequest& request : requests) {
        if (request.password.length < 0) return false;
        if (Find(request) == nullptr) jobs.push_back({&Add(request), request.digest});
    }
    if (jobs.empty()) return true;

    std::atomic<std::size_t> next{0};
    const auto work = [&]() noexcept {
        for (std::size_t i = next++; i < jobs.size(); i = next++)
            jobs[i].entry->ok = Derive(*jobs[i].entry, jobs[i].digest);
    };
    // Each derivation is independent; more than three threads would only queue on small machines.
    std::vector<std::thread> helpers;
    const std::size_t wanted = std::min<std::size_t>(jobs.size(), 3) - 1;
    for (std::size_t i = 0; i < wanted; ++i) {
        try {
            helpers.emplace_back(work);
        } catch (...) {
            break;  // fewer helpers; this thread does the rest
        }
    }
    work();
    for (std::thread& helper : helpers) helper.join();

    derivations_ += jobs.size();
    bool ok = true;
    for (const Job& job : jobs) ok = ok && job.entry->ok;
    return ok;
}

bool DerivedKeys::Has(const KeyRequest& request) const {
    const Entry* entry = Find(request);
    return entry != nullptr && entry->ok;
}

const SecureBytes* DerivedKeys::Get(const KeyRequest& request) {
    if (request.password.length < 0) return nullptr;
    Entry* entry = Find(request);
    if (entry == nullptr) {
        entry = &Add(request);
        entry->ok = Derive(*entry, request.digest);
        ++derivations_;
    }
    return entry->ok ? &entry->key : nullptr;
}

}  // namespace kiv::certificate
