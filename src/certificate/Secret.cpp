#include "certificate/Secret.h"

#include <openssl/crypto.h>

#include <utility>

namespace kiv::certificate {

Secret::Secret(std::size_t size) : bytes_(size, '\0') {}

Secret::Secret(Secret&& other) noexcept : bytes_(std::move(other.bytes_)) {
    // A short string moves by copy and leaves its bytes behind in `other`.
    other.Wipe();
}

Secret& Secret::operator=(Secret&& other) noexcept {
    if (this != &other) {
        Wipe();
        bytes_ = std::move(other.bytes_);
        other.Wipe();
    }
    return *this;
}

void Secret::Wipe() noexcept {
    // The whole capacity: bytes past the size may be left from an earlier, longer content.
    bytes_.resize(bytes_.capacity());
    OPENSSL_cleanse(bytes_.data(), bytes_.size());
    bytes_.clear();
}

void Secret::Reserve(std::size_t capacity) {
    if (capacity <= bytes_.capacity()) return;
    std::string grown;
    grown.reserve(capacity);
    grown.assign(bytes_);
    Wipe();
    bytes_.swap(grown);
}

void Secret::Resize(std::size_t size) {
    if (size < bytes_.size()) OPENSSL_cleanse(bytes_.data() + size, bytes_.size() - size);
    if (size > bytes_.capacity()) Reserve(size);
    bytes_.resize(size);
}

void Secret::Append(std::string_view bytes) {
    if (bytes_.size() + bytes.size() > bytes_.capacity()) Reserve(2 * (bytes_.size() + bytes.size()));
    bytes_.append(bytes);
}

void Secret::DropLast() noexcept {
    if (bytes_.empty()) return;
    bytes_.back() = '\0';
    bytes_.pop_back();
}

bool Secret::operator==(const Secret& other) const noexcept {
    return size() == other.size() && CRYPTO_memcmp(data(), other.data(), size()) == 0;
}

}  // namespace kiv::certificate
