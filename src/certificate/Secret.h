#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kiv::certificate {

// Bytes that may hold a password or key material. Every copy this type makes of them is wiped
// before its memory is given back: when it goes, when it is wiped or shrunk, when it grows into new
// memory and when it is moved from. Text() lends the bytes to calls that take a password as a string.
class Secret {
  public:
    Secret() = default;
    explicit Secret(std::size_t size);  // `size` zero bytes
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    Secret(Secret&& other) noexcept;
    Secret& operator=(Secret&& other) noexcept;
    ~Secret() { Wipe(); }

    // Empties it; the bytes it held are overwritten first.
    void Wipe() noexcept;
    // Room for `capacity` bytes, so that growing up to it never moves them.
    void Reserve(std::size_t capacity);
    // New bytes are zero.
    void Resize(std::size_t size);
    void Append(std::string_view bytes);
    void DropLast() noexcept;

    unsigned char* data() noexcept { return reinterpret_cast<unsigned char*>(bytes_.data()); }
    const unsigned char* data() const noexcept {
        return reinterpret_cast<const unsigned char*>(bytes_.data());
    }
    std::size_t size() const noexcept { return bytes_.size(); }
    bool empty() const noexcept { return bytes_.empty(); }
    const std::string& Text() const noexcept { return bytes_; }

    // Compares in time that depends on the sizes only.
    bool operator==(const Secret& other) const noexcept;

  private:
    std::string bytes_;
};

}  // namespace kiv::certificate
