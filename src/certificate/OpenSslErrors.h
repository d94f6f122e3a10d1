#pragma once

#include <string>
#include <vector>

namespace kiv::certificate {

// What the OpenSSL error queue of this thread held, oldest first. Taking it empties the queue.
class OpenSslErrors {
  public:
    static OpenSslErrors Take();
    static void Clear();

    bool Empty() const { return codes_.empty(); }
    // An algorithm the file needs is not available (not built in, or its provider is not loaded).
    bool UnsupportedAlgorithm() const;
    // "reason (library); reason (library)", or empty.
    std::string Text() const;

  private:
    std::vector<unsigned long> codes_;
};

// `sentence` followed by what OpenSSL reported, if it reported anything.
std::string WithDetails(const std::string& sentence, const OpenSslErrors& errors);

// Loads OpenSSL's "default" and "legacy" providers once per process; true when legacy is there.
bool LegacyProviderAvailable();

}  // namespace kiv::certificate
