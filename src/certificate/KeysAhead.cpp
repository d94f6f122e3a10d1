// Keys of announced saves, derived ahead on the helper threads.
#include "certificate/KeysAhead.h"

#include <openssl/crypto.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>

#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include "certificate/Certificate.h"
#include "certificate/HelperThreads.h"
#include "certificate/KeyDerivation.h"

namespace kiv::certificate {
namespace {

// What an AES copy derives, as the encoder asks for it: PBKDF2-HMAC-SHA256 keys for AES-256 and
// a PKCS#12 MAC key for HMAC-SHA256, each with a 16-byte salt.
constexpr std::size_t kSaltLength = 16;
constexpr std::size_t kKeyLength = 32;
// Per save, an ordinary file needs two encryption keys (its key bag and its certificates) and one
// MAC key. Two saves' worth is made ahead: enough to keep both cores busy while the caller loads
// the next file, little to throw away when a run stops.
constexpr std::size_t kEncryptionKeysPerSave = 2;
constexpr std::size_t kSavesAhead = 2;

class Reserve : public std::enable_shared_from_this<Reserve> {
  public:
    Reserve(const std::string& password, std::size_t saves, int iterations)
        : password_(password.size()), iterations_(iterations) {
        std::memcpy(password_.data(), password.data(), password.size());
        kinds_[0].kind = KeyKind::Pbkdf2;
        kinds_[0].planned = saves * kEncryptionKeysPerSave;
        kinds_[0].ahead = kEncryptionKeysPerSave * kSavesAhead;
        kinds_[1].kind = KeyKind::Pkcs12Mac;
        kinds_[1].planned = saves;
        kinds_[1].ahead = kSavesAhead;
    }

    // The PKCS#12 derivation takes the password as BMPString; false when it cannot be converted.
    bool ConvertPassword() { return BmpPassword({password_.data(), password_.size()}, bmpPassword_); }

    void Start() {
        std::lock_guard lock(mutex_);
        Refill();
    }

    // Stops making keys, wipes the ones made and waits for the derivation under way, if any, to end:
    // afterwards no helper touches OpenSSL for this reserve, so the process may end at once.
    void Close() {
        std::unique_lock lock(mutex_);
        closed_ = true;
        for (Kind& kind : kinds_) kind.ready.clear();
        changed_.notify_all();
        changed_.wait(lock, [&] { return Idle(); });
    }

    bool Take(const KeyRequest& request, std::size_t saltLength, std::vector<unsigned char>& salt,
              Secret& key) {
        if (saltLength != kSaltLength || request.length != kKeyLength || request.iterations != iterations_ ||
            request.digest == nullptr || EVP_MD_get_type(request.digest) != NID_sha256 ||
            request.password.data == nullptr || request.password.length < 0 ||
            static_cast<std::size_t>(request.password.length) != password_.size() ||
            CRYPTO_memcmp(request.password.data, password_.data(), password_.size()) != 0)
            return false;
        Kind* kind = Find(request.kind);
        if (kind == nullptr) return false;
        std::lock_guard lock(mutex_);
        if (closed_ || kind->ready.empty()) return false;
        salt = std::move(kind->ready.front().salt);
        key = std::move(kind->ready.front().key);
        kind->ready.pop_front();
        Refill();
        return true;
    }

    void WaitWhileMaking() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return Idle(); });
    }

  private:
    struct Made {
        std::vector<unsigned char> salt;
        Secret key;
    };
    struct Kind {
        KeyKind kind = KeyKind::Pbkdf2;
        std::size_t planned = 0;  // keys the announced saves may use
        std::size_t ahead = 0;    // most keys ready or under way at a time
        std::size_t started = 0;
        std::size_t inFlight = 0;
        std::deque<Made> ready;
    };

    // No derivation under way or queued. Called with the lock held.
    bool Idle() const {
        for (const Kind& k : kinds_) {
            if (k.inFlight != 0) return false;
        }
        return true;
    }

    Kind* Find(KeyKind kind) {
        for (Kind& k : kinds_) {
            if (k.kind == kind) return &k;
        }
        return nullptr;
    }

    // Starts derivations while a helper is free and a kind is short; the kind furthest below its
    // share goes first. Called with the lock held.
    void Refill() {
        HelperThreads& helpers = HelperThreads::Background();
        for (;;) {
            std::size_t busy = 0;
            for (const Kind& k : kinds_) busy += k.inFlight;
            if (closed_ || busy >= helpers.Count()) return;
            Kind* next = nullptr;
            for (Kind& k : kinds_) {
                const std::size_t have = k.ready.size() + k.inFlight;
                if (k.started >= k.planned || have >= k.ahead) continue;
                // Compare have/ahead without dividing.
                if (next == nullptr || have * next->ahead < (next->ready.size() + next->inFlight) * k.ahead)
                    next = &k;
            }
            if (next == nullptr) return;
            ++next->started;
            ++next->inFlight;
            bool posted = false;
            try {
                posted = helpers.Post([self = shared_from_this(), kind = next->kind] { self->Make(kind); });
            } catch (...) {
            }
            if (!posted) {
                // No helper takes it: the saves derive their own.
                --next->inFlight;
                --next->started;
                next->planned = next->started;
                return;
            }
        }
    }

    // On a helper thread: one key of `kind` with a fresh salt.
    void Make(KeyKind kind) noexcept {
        {
            std::lock_guard lock(mutex_);
            if (closed_) {
                // Queued before the close: nothing to make.
                --Find(kind)->inFlight;
                changed_.notify_all();
                return;
            }
        }
        Made made;
        bool ok = false;
        try {
            made.salt.resize(kSaltLength);
            made.key = Secret(kKeyLength);
            ok = RAND_bytes(made.salt.data(), static_cast<int>(made.salt.size())) == 1;
            if (ok && kind == KeyKind::Pbkdf2) {
                ok = DerivePbkdf2(EVP_sha256(), {password_.data(), password_.size()}, made.salt, iterations_,
                                  {made.key.data(), made.key.size()});
            } else if (ok) {
                ok = DerivePkcs12(EVP_sha256(), PKCS12_MAC_ID, {bmpPassword_.data(), bmpPassword_.size()},
                                  made.salt, iterations_, {made.key.data(), made.key.size()});
            }
        } catch (...) {
            ok = false;
        }
        std::lock_guard lock(mutex_);
        Kind* k = Find(kind);
        --k->inFlight;
        if (ok && !closed_) {
            try {
                k->ready.push_back(std::move(made));
            } catch (...) {
            }
        }
        if (!ok) k->planned = k->started;  // something is wrong; the saves derive their own
        Refill();
        changed_.notify_all();
    }

    // Fixed before any helper sees this object; wiped when the last helper task lets go of it.
    Secret password_;
    Secret bmpPassword_;
    const int iterations_;

    std::mutex mutex_;
    std::condition_variable changed_;
    bool closed_ = false;
    Kind kinds_[2];
};

std::mutex currentMutex;
std::shared_ptr<Reserve> current;  // the announcement in force

class Announcement final : public SavesAhead {
  public:
    explicit Announcement(std::shared_ptr<Reserve> reserve) : reserve_(std::move(reserve)) {}
    ~Announcement() override {
        if (!reserve_) return;
        {
            std::lock_guard lock(currentMutex);
            if (current == reserve_) current.reset();
        }
        reserve_->Close();
    }

  private:
    std::shared_ptr<Reserve> reserve_;
};

}  // namespace

std::unique_ptr<SavesAhead> AnnounceSaves(const std::string& password, std::size_t saves,
                                          const SaveOptions& options) {
    std::shared_ptr<Reserve> reserve;
    if (saves > 0 && !password.empty() && password.size() <= INT_MAX / 2 &&
        options.algorithms == SaveOptions::Algorithms::Aes256 && SaveOptionsProblem(options).empty() &&
        HelperThreads::Background().Count() > 0) {
        try {
            reserve = std::make_shared<Reserve>(password, saves, options.iterations);
            if (!reserve->ConvertPassword()) reserve.reset();
        } catch (...) {
            reserve.reset();
        }
    }
    std::shared_ptr<Reserve> before;
    {
        std::lock_guard lock(currentMutex);
        before = std::exchange(current, reserve);
    }
    if (before) before->Close();
    if (reserve) reserve->Start();
    return std::make_unique<Announcement>(std::move(reserve));
}

void WaitForKeysAhead() {
    std::shared_ptr<Reserve> reserve;
    {
        std::lock_guard lock(currentMutex);
        reserve = current;
    }
    if (reserve) reserve->WaitWhileMaking();
}

bool TakeKeyMadeAhead(const KeyRequest& request, std::size_t saltLength, std::vector<unsigned char>& salt,
                      Secret& key) {
    std::shared_ptr<Reserve> reserve;
    {
        std::lock_guard lock(currentMutex);
        reserve = current;
    }
    return reserve && reserve->Take(request, saltLength, salt, key);
}

}  // namespace kiv::certificate
