#include "certificate/Pkcs12Safes.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <climits>
#include <cstring>

#include "certificate/DerWalk.h"
#include "certificate/OpenSslErrors.h"

namespace kiv::certificate {
namespace {

// Safe contents may nest; real files never go deeper than one level.
constexpr int kMaxNesting = 4;

template <typename T, typename Encode>
Secret Der(const T* object, Encode encode) {
    const int length = encode(object, nullptr);
    if (length <= 0) return {};
    Secret der(static_cast<std::size_t>(length));
    unsigned char* out = der.data();
    if (encode(object, &out) != length) return {};
    return der;
}

// The bags of one file as a reader takes them, safe by safe: shrouded keys are numbered in file
// order across all safes.
class BagTaker {
  public:
    BagTaker(const PartOpeners& open, Pkcs12Contents& contents, bool bagsOnly)
        : open_(open), contents_(contents), bagsOnly_(bagsOnly) {}

    // Takes the bags of one SafeContents encoding, keeping each bag's own bytes where the encoding
    // is DER; `safe` is the number of the file's safe they came from.
    ReadResult Take(std::span<const unsigned char> safeContents, std::size_t safe, int depth = 0);

  private:
    ReadResult OpenKey(const PKCS12_SAFEBAG* bag, Pkcs8Ptr& key) {
        EncryptedPart part;
        part.name = "private key " + std::to_string(++keyNumber_);
        part.bag = bag;
        if (const X509_SIG* shrouded = PKCS12_SAFEBAG_get0_pkcs8(bag))
            X509_SIG_get0(shrouded, &part.algorithm, &part.data);
        part.scheme = ParseEncryption(part.algorithm);
        return open_.key(part, key);
    }

    const PartOpeners& open_;
    Pkcs12Contents& contents_;
    const bool bagsOnly_;
    std::size_t keyNumber_ = 0;
};

}  // namespace

Secret BagDer(const PKCS12_SAFEBAG* bag) {
    return Der(bag, i2d_PKCS12_SAFEBAG);
}
Secret KeyDer(const PKCS8_PRIV_KEY_INFO* key) {
    return Der(key, i2d_PKCS8_PRIV_KEY_INFO);
}

ReadResult BagTaker::Take(std::span<const unsigned char> safeContents, std::size_t safe, int depth) {
    const unsigned char* in = safeContents.data();
    SafeBagStackPtr bags(
        safeContents.empty() || safeContents.size() > LONG_MAX
            ? nullptr
            : static_cast<STACK_OF(PKCS12_SAFEBAG)*>(static_cast<void*>(ASN1_item_d2i(
                  nullptr, &in, static_cast<long>(safeContents.size()), ASN1_ITEM_rptr(PKCS12_SAFEBAGS)))));
    if (!bags || in != safeContents.data() + safeContents.size())
        return Failure(ReadFailure::Damaged,
                       WithDetails("A part of the file is damaged.", OpenSslErrors::Take()));
    std::vector<std::span<const unsigned char>> raw;
    const bool haveRaw = SequenceElements(safeContents, raw) &&
                         raw.size() == static_cast<std::size_t>(sk_PKCS12_SAFEBAG_num(bags.get()));
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags.get()); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), i);
        Secret der;
        if (haveRaw) {
            der.Resize(raw[static_cast<std::size_t>(i)].size());
            std::memcpy(der.data(), raw[static_cast<std::size_t>(i)].data(), der.size());
        } else {
            der = BagDer(bag);  // BER input: its DER form is the closest to what it held
        }
        std::span<const unsigned char> value;
        std::span<const unsigned char> attributes;
        if (der.size() == 0 || !BagParts({der.data(), der.size()}, value, attributes))
            return Failure(ReadFailure::Damaged, "A bag in the file is damaged.");
        Pkcs12Item item;
        item.safe = safe;
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
            case NID_keyBag: {
                const Secret key = KeyDer(PKCS12_SAFEBAG_get0_p8inf(bag));
                const unsigned char* p = key.data();
                item.key.reset(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(key.size())));
                if (!item.key) return Failure(ReadFailure::Damaged, "A private key in the file is damaged.");
                break;
            }
            case NID_pkcs8ShroudedKeyBag: {
                ReadResult opened = OpenKey(bag, item.key);
                if (!opened.ok()) return opened;
                break;
            }
            case NID_safeContentsBag: {
                if (depth >= kMaxNesting)
                    return Failure(ReadFailure::Damaged, "The file's safe contents nest too deep.");
                ReadResult nested = Take(value, safe, depth + 1);
                if (!nested.ok()) return nested;
                continue;
            }
            default:
                if (bagsOnly_) {
                    item.der = std::move(der);
                    break;
                }
                if (PKCS12_SAFEBAG_get_nid(bag) == NID_certBag &&
                    PKCS12_SAFEBAG_get_bag_nid(bag) == NID_x509Certificate) {
                    // Every field as OpenSSL decodes it but the public key: decoding that costs as
                    // much as a tenth of the file's key derivations, and takes a lock every thread
                    // waits on.
                    if (!CertBagHoldsCertificate(value))
                        return Failure(ReadFailure::Damaged, "A certificate in the file is damaged.");
                    item.isCertificate = true;
                }
                item.der = std::move(der);
                break;
        }
        if (item.IsKey()) item.keyAttributes.assign(attributes.begin(), attributes.end());
        contents_.items.push_back(std::move(item));
    }
    return {};
}

ReadResult ForEachSafe(const PKCS12* p12, const std::function<ReadResult(const Safe&)>& visit) {
    Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12));
    if (!safes) {
        return Failure(ReadFailure::Damaged,
                       WithDetails("The contents of the file are damaged or use public-key protection.",
                                   OpenSslErrors::Take()));
    }
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        const PKCS7* p7 = sk_PKCS7_value(safes.get(), i);
        Safe safe;
        safe.index = static_cast<std::size_t>(i);
        EncryptedPart part;
        const int type = OBJ_obj2nid(p7->type);
        if (type == NID_pkcs7_data) {
            if (p7->d.data == nullptr) return Failure(ReadFailure::Damaged, "A part of the file is damaged.");
            safe.plain = p7->d.data;
        } else if (type == NID_pkcs7_encrypted) {
            const PKCS7_ENC_CONTENT* content =
                p7->d.encrypted != nullptr ? p7->d.encrypted->enc_data : nullptr;
            if (content == nullptr || content->enc_data == nullptr)
                return Failure(ReadFailure::Damaged, "An encrypted part of the file is empty.");
            part.name = "encrypted part " + std::to_string(i + 1);
            part.algorithm = content->algorithm;
            part.scheme = ParseEncryption(content->algorithm);
            part.data = content->enc_data;
            safe.encrypted = &part;
        } else {
            return Failure(ReadFailure::UnsupportedAlgorithm,
                           "A part of the file uses public-key encryption, which this program cannot open.");
        }
        if (ReadResult visited = visit(safe); !visited.ok()) return visited;
    }
    return {};
}

ReadResult ReadSafes(const PKCS12* p12, const PartOpeners& open, Pkcs12Contents& contents, bool bagsOnly) {
    BagTaker taker(open, contents, bagsOnly);
    return ForEachSafe(p12, [&](const Safe& safe) {
        Secret plain;
        if (safe.encrypted != nullptr) {
            if (ReadResult opened = open.safe(*safe.encrypted, plain); !opened.ok()) return opened;
        } else {
            plain.Resize(static_cast<std::size_t>(safe.plain->length));
            if (plain.size() > 0) std::memcpy(plain.data(), safe.plain->data, plain.size());
        }
        return taker.Take({plain.data(), plain.size()}, safe.index);
    });
}

}  // namespace kiv::certificate
