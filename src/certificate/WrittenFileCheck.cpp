// Checking the written file: it is opened again with the password alone, with keys for exactly the
// salts, counts and algorithms it names, and must hold what the source held, bag for bag.

#include <climits>

#include "certificate/FileFormat.h"
#include "certificate/MacScheme.h"
#include "certificate/OpenSslErrors.h"
#include "certificate/Pkcs12Bags.h"
#include "certificate/Pkcs12Safes.h"

namespace kiv::certificate {

ReadResult ReadProtectedPkcs12(std::span<const unsigned char> der, Pkcs12Password password, DerivedKeys& keys,
                               Pkcs12Contents& contents, bool bagsOnly) {
    contents.items.clear();
    OpenSslErrors::Clear();
    const unsigned char* in = der.data();
    Pkcs12Ptr p12(der.empty() || der.size() > LONG_MAX
                      ? nullptr
                      : d2i_PKCS12(nullptr, &in, static_cast<long>(der.size())));
    if (!p12 || in != der.data() + der.size())
        return Failure(ReadFailure::NotPkcs12, "The file is not a PKCS#12 file, or it is damaged.");
    if (!PKCS12_mac_present(p12.get()))
        return Failure(ReadFailure::Damaged, "The file has no integrity check.");
    WorkBudget budget;
    ReadResult mac = VerifyMac(ParseMac(p12.get()), der, password, keys, budget);
    if (!mac.ok()) return mac;

    PartOpeners open;
    open.safe = [&](const EncryptedPart& part, Secret& plain) {
        return Decrypt(part.scheme, part.data, password, keys, budget, part.name, plain);
    };
    open.key = [&](const EncryptedPart& part, Pkcs8Ptr& key) {
        Secret plain;
        ReadResult opened = Decrypt(part.scheme, part.data, password, keys, budget, part.name, plain);
        if (!opened.ok()) return opened;
        const unsigned char* p = plain.data();
        key.reset(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(plain.size())));
        if (!key || p != plain.data() + plain.size())
            return Failure(ReadFailure::Damaged, "A private key in the file is damaged.");
        return ReadResult{};
    };
    ReadResult read = ReadSafes(p12.get(), open, contents, bagsOnly);
    OpenSslErrors::Clear();
    return read;
}

CallResult CheckWrittenPkcs12(std::span<const unsigned char> written, Pkcs12Password password,
                              DerivedKeys& keys, const Pkcs12Contents& source,
                              SaveOptions::Algorithms algorithms) {
    Pkcs12Contents reread;
    // Only bag bytes are compared, so the certificates need not be decoded again.
    const ReadResult result = ReadProtectedPkcs12(written, password, keys, reread, true);
    OpenSslErrors::Clear();
    if (!result.ok())
        return CallResult::Failure("The written file does not open with the password: " + result.description);
    if (!SameContents(source, reread)) {
        return CallResult::Failure(
            "The written file does not hold the same keys and certificates as the source.");
    }
    const FileFormat format = FormatOf(written);
    if (format.algorithms != algorithms) {
        return CallResult::Failure("The written file is protected with " + format.description + ", not as " +
                                   FormatName(algorithms) + " copies are.");
    }
    return CallResult::Success();
}

bool SameContents(const Pkcs12Contents& a, const Pkcs12Contents& b) {
    if (a.items.size() != b.items.size()) return false;
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        const Pkcs12Item& x = a.items[i];
        const Pkcs12Item& y = b.items[i];
        if (x.IsKey() != y.IsKey()) return false;
        if (x.IsKey()) {
            const Secret keyX = KeyDer(x.key.get());
            if (keyX.size() == 0 || !(keyX == KeyDer(y.key.get())) || x.keyAttributes != y.keyAttributes)
                return false;
        } else if (x.der.size() == 0 || !(x.der == y.der)) {
            return false;
        }
    }
    return true;
}

}  // namespace kiv::certificate
