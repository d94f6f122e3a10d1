#include "certificate/DerivedKeys.h"

#include <openssl/crypto.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

#include "certificate/HelperThreads.h"
#include "certificate/KeyDerivation.h"
#include "certificate/KeysAhead.h"

namespace kiv::certificate {

bool DerivedKeys::Derive(Entry& entry, const EVP_MD* digest) {
    if (digest == nullptr || entry.iterations <= 0 || entry.length == 0 || entry.length > INT_MAX ||
        entry.salt.size() > INT_MAX || entry.password.size() > INT_MAX) {
        return false;
    }
    const std::span<unsigned char> out(entry.key.data(), entry.length);
    if (entry.kind == KeyKind::Pbkdf2) {
        return DerivePbkdf2(digest, {entry.password.data(), entry.password.size()}, entry.salt,
                            entry.iterations, out);
    }
    const int id = entry.kind == KeyKind::Pkcs12Key  ? PKCS12_KEY_ID
                   : entry.kind == KeyKind::Pkcs12Iv ? PKCS12_IV_ID
                                                     : PKCS12_MAC_ID;
    if (entry.noPassword) return DerivePkcs12(digest, id, {}, entry.salt, entry.iterations, out);
    Secret bmp;
    return BmpPassword({entry.password.data(), entry.password.size()}, bmp) &&
           DerivePkcs12(digest, id, {bmp.data(), bmp.size()}, entry.salt, entry.iterations, out);
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
        Entry{request.kind, noPassword, Secret(passwordLength), request.salt, request.iterations,
              request.digest != nullptr ? EVP_MD_get_type(request.digest) : NID_undef, request.length,
              Secret(request.length)});
    if (passwordLength > 0) std::memcpy(entry.password.data(), request.password.data, passwordLength);
    return entry;
}

bool DerivedKeys::Prepare(const std::vector<KeyRequest>& requests, bool parallel) {
    struct Job {
        Entry* entry;
        const EVP_MD* digest;
    };
    // Shared with helper tasks that may start only after this call has returned; such a late task
    // finds no job left and touches nothing else.
    struct Batch {
        std::vector<Job> jobs;
        std::atomic<std::size_t> next{0};
        std::mutex mutex;
        std::condition_variable finished;
        std::size_t done = 0;

        void Work() noexcept {
            for (std::size_t i = next++; i < jobs.size(); i = next++) {
                jobs[i].entry->ok = Derive(*jobs[i].entry, jobs[i].digest);
                std::lock_guard lock(mutex);
                if (++done == jobs.size()) finished.notify_all();
            }
        }
    };
    const auto batch = std::make_shared<Batch>();
    for (const KeyRequest& request : requests) {
        if (request.password.length < 0) return false;
        if (Find(request) == nullptr) batch->jobs.push_back({&Add(request), request.digest});
    }
    if (batch->jobs.empty()) return true;

    if (parallel) {
        HelperThreads& helpers = HelperThreads::Instance();
        const std::size_t wanted = std::min(batch->jobs.size() - 1, helpers.Count());
        for (std::size_t i = 0; i < wanted; ++i) {
            try {
                if (!helpers.Post([batch] { batch->Work(); })) break;
            } catch (...) {
                break;  // this thread does the rest
            }
        }
    }
    batch->Work();
    {
        std::unique_lock lock(batch->mutex);
        batch->finished.wait(lock, [&] { return batch->done == batch->jobs.size(); });
    }

    derivations_ += batch->jobs.size();
    bool ok = true;
    for (const Job& job : batch->jobs) ok = ok && job.entry->ok;
    return ok;
}

std::vector<unsigned char> DerivedKeys::NewSalt(const KeyRequest& like, std::size_t length) {
    std::vector<unsigned char> salt;
    Secret key;
    if (TakeKeyMadeAhead(like, length, salt, key) && key.size() == like.length) {
        KeyRequest made = like;
        made.salt = salt;
        if (Find(made) == nullptr) {
            Entry& entry = Add(made);
            std::memcpy(entry.key.data(), key.data(), key.size());
            entry.ok = true;
            return salt;
        }
    }
    salt.assign(length, 0);
    if (length > INT_MAX || RAND_bytes(salt.data(), static_cast<int>(length)) != 1) salt.clear();
    return salt;
}

bool DerivedKeys::Has(const KeyRequest& request) const {
    const Entry* entry = Find(request);
    return entry != nullptr && entry->ok;
}

const Secret* DerivedKeys::Get(const KeyRequest& request) {
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
