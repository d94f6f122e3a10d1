// Reads each input with the reader of password-less sources and with OpenSSL twice: its own
// PKCS12_parse (the empty password, then none) and its calls the way the openssl command line reads
// every part. Where the reader reads a file, OpenSSL's reading of every part must find the same
// private keys and certificates, and PKCS12_parse, where it reads the file too, the same first key
// and certificates. Where only one side reads a file, the difference must be one the README
// documents as the reader's deliberate answer. Anything else aborts, so that libFuzzer keeps the
// input.

#include <openssl/err.h>
#include <openssl/objects.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "certificate/OpenSslErrors.h"
#include "certificate/OpenSslHandles.h"
#include "certificate/Pkcs12Bags.h"
#include "certificate/WorkLimits.h"

namespace {

using namespace kiv::certificate;
using Bytes = std::vector<unsigned char>;

std::string OpenSslText(unsigned long code) {
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

[[noreturn]] void Differ(const char* what, const ReadResult& ours, const std::string& theirs) {
    std::fprintf(stderr, "pkcs12 differential: %s\n  reader: \"%s\"\n  OpenSSL: \"%s\"\n", what,
                 ours.ok() ? "read" : ours.description.c_str(), theirs.c_str());
    std::abort();
}

Bytes Der(X509* certificate) {
    unsigned char* out = nullptr;
    const int length = i2d_X509(certificate, &out);
    Bytes der;
    if (length > 0) der.assign(out, out + length);
    OPENSSL_free(out);
    return der;
}

// What PKCS12_parse made of a file.
struct OpenSslRead {
    bool read = false;
    EvpPkeyPtr key;
    std::vector<Bytes> certificates;  // DER, sorted
    std::string error;
};

OpenSslRead Parse(PKCS12* p12, const char* password) {
    ERR_clear_error();
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    STACK_OF(X509)* others = nullptr;
    OpenSslRead result;
    result.read = PKCS12_parse(p12, password, &key, &certificate, &others) == 1;
    result.key.reset(key);
    X509Ptr owned(certificate);
    X509StackPtr ownedOthers(others);
    if (owned) result.certificates.push_back(Der(owned.get()));
    for (int i = 0; i < sk_X509_num(others); ++i)
        result.certificates.push_back(Der(sk_X509_value(others, i)));
    std::sort(result.certificates.begin(), result.certificates.end());
    if (!result.read) result.error = OpenSslText(ERR_peek_last_error());
    ERR_clear_error();
    return result;
}

// What OpenSSL's own calls make of a file when each part is opened the way the openssl command
// line opens it (every key and certificate, not only the first key), each part with the passwords
// given in turn; given one, it is the one that verified the MAC, as the command line takes it.
// OpenSSL has no limit on the work a file asks for: this read counts it as the reader does, with
// twice the budget, and gives up past that.
struct ToolRead {
    enum class Verdict { Read, Refused, TooCostly } verdict = Verdict::Refused;
    std::vector<Bytes> keys;          // PKCS#8 DER, in file order
    std::vector<Bytes> certificates;  // DER, in file order
    bool skippedSafe = false;         // a part neither plain nor password-encrypted, which it skips
    bool deepNesting = false;         // safe contents nested deeper than the reader takes
    bool oddAttribute = false;        // a friendlyName or localKeyID of another type than PKCS#12 names
    std::string error;
};

class ToolReader {
  public:
    explicit ToolReader(std::vector<const char*> passwords) : passwords_(std::move(passwords)) {}

    ToolRead Read(PKCS12* p12) {
        ERR_clear_error();
        result_.verdict = Run(p12);
        if (result_.verdict == ToolRead::Verdict::Refused) result_.error = OpenSslText(ERR_peek_last_error());
        ERR_clear_error();
        return std::move(result_);
    }

  private:
    using Verdict = ToolRead::Verdict;

    bool Charge(const DerivationCost& cost) {
        std::string unused;
        return budget_.Charge(cost, "part", unused);
    }

    Verdict Run(PKCS12* p12) {
        if (PKCS12_mac_present(p12)) {
            const X509_ALGOR* algorithm = nullptr;
            const ASN1_INTEGER* iterations = nullptr;
            PKCS12_get0_mac(nullptr, &algorithm, nullptr, &iterations, p12);
            const ASN1_OBJECT* object = nullptr;
            if (algorithm != nullptr) X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
            const EVP_MD* digest = object != nullptr ? EVP_get_digestbyobj(object) : nullptr;
            const long count = iterations != nullptr ? ASN1_INTEGER_get(iterations) : 1;
            const DerivationCost cost =
                digest != nullptr && count > 0
                    ? Pkcs12KdfCost(count, digest, static_cast<std::size_t>(EVP_MD_get_size(digest)))
                    : DerivationCost{};
            // As the command line does with an empty password: none first, then the empty one;
            // with one password for every part, it is the one that verified the MAC.
            bool verified = false;
            for (const char* password : {static_cast<const char*>(nullptr), ""}) {
                if (!Charge(cost)) return Verdict::TooCostly;
                if (PKCS12_verify_mac(p12, password, 0) == 1) {
                    verified = true;
                    if (passwords_.size() == 1) passwords_ = {password};
                    break;
                }
            }
            if (!verified) return Verdict::Refused;
        }
        Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12));
        if (!safes) return Verdict::Refused;
        for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
            PKCS7* safe = sk_PKCS7_value(safes.get(), i);
            SafeBagStackPtr bags;
            const int type = OBJ_obj2nid(safe->type);
            if (type == NID_pkcs7_data) {
                bags.reset(PKCS12_unpack_p7data(safe));
            } else if (type == NID_pkcs7_encrypted) {
                const PKCS7_ENC_CONTENT* content =
                    safe->d.encrypted != nullptr ? safe->d.encrypted->enc_data : nullptr;
                const DerivationCost cost = EncryptionCost(content != nullptr ? content->algorithm : nullptr);
                for (const char* password : passwords_) {
                    if (!Charge(cost)) return Verdict::TooCostly;
                    bags.reset(PKCS12_unpack_p7encdata(safe, password, -1));
                    if (bags) break;
                }
            } else {
                result_.skippedSafe = true;
                continue;
            }
            if (!bags) return Verdict::Refused;
            if (const Verdict taken = Bags(bags.get(), 0); taken != Verdict::Read) return taken;
        }
        return Verdict::Read;
    }

    Verdict Bags(const STACK_OF(PKCS12_SAFEBAG) * bags, int depth) {
        for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
            const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
            if (OddAttributes(bag)) result_.oddAttribute = true;
            switch (PKCS12_SAFEBAG_get_nid(bag)) {
                case NID_keyBag:
                    if (!AddKey(PKCS12_SAFEBAG_get0_p8inf(bag))) return Verdict::Refused;
                    break;
                case NID_pkcs8ShroudedKeyBag: {
                    const X509_ALGOR* algorithm = nullptr;
                    X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &algorithm, nullptr);
                    const DerivationCost cost = EncryptionCost(algorithm);
                    Pkcs8Ptr key;
                    for (const char* password : passwords_) {
                        if (!Charge(cost)) return Verdict::TooCostly;
                        key.reset(PKCS12_decrypt_skey(bag, password, -1));
                        if (key) break;
                    }
                    if (!key || !AddKey(key.get())) return Verdict::Refused;
                    break;
                }
                case NID_certBag: {
                    if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate) break;
                    X509Ptr certificate(PKCS12_SAFEBAG_get1_cert(bag));
                    if (!certificate) return Verdict::Refused;
                    result_.certificates.push_back(Der(certificate.get()));
                    break;
                }
                case NID_safeContentsBag: {
                    if (depth >= 4) result_.deepNesting = true;
                    const Verdict nested = Bags(PKCS12_SAFEBAG_get0_safes(bag), depth + 1);
                    if (nested != Verdict::Read) return nested;
                    break;
                }
                default:
                    break;
            }
        }
        return Verdict::Read;
    }

    static bool OddAttributes(const PKCS12_SAFEBAG* bag) {
        const ASN1_TYPE* id = PKCS12_SAFEBAG_get0_attr(bag, NID_localKeyID);
        if (id != nullptr && id->type != V_ASN1_OCTET_STRING) return true;
        const ASN1_TYPE* name = PKCS12_SAFEBAG_get0_attr(bag, NID_friendlyName);
        if (name == nullptr) return false;
        if (name->type != V_ASN1_BMPSTRING) return true;
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, name->value.bmpstring);
        OPENSSL_free(utf8);
        return length < 0;
    }

    bool AddKey(const PKCS8_PRIV_KEY_INFO* key) {
        unsigned char* out = nullptr;
        const int length = key != nullptr ? i2d_PKCS8_PRIV_KEY_INFO(key, &out) : 0;
        if (length <= 0) return false;
        result_.keys.emplace_back(out, out + length);
        OPENSSL_clear_free(out, static_cast<std::size_t>(length));
        return true;
    }

    std::vector<const char*> passwords_;
    WorkBudget budget_{2 * kDerivationBudget};
    ToolRead result_;
};

// Whether a part's SafeContents is followed by more bytes within the part: OpenSSL reads the first
// element and passes over the rest, and with it whatever bags it holds.
bool PartWithTrailingBytes(PKCS12* p12) {
    WorkBudget budget(2 * kDerivationBudget);
    Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12));
    bool trailing = false;
    for (int i = 0; i < sk_PKCS7_num(safes.get()) && !trailing; ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        Bytes plain;
        const int type = OBJ_obj2nid(safe->type);
        if (type == NID_pkcs7_data && safe->d.data != nullptr) {
            plain.assign(safe->d.data->data, safe->d.data->data + safe->d.data->length);
        } else if (type == NID_pkcs7_encrypted && safe->d.encrypted != nullptr &&
                   safe->d.encrypted->enc_data != nullptr &&
                   safe->d.encrypted->enc_data->enc_data != nullptr) {
            const PKCS7_ENC_CONTENT* content = safe->d.encrypted->enc_data;
            for (const char* password : {"", static_cast<const char*>(nullptr)}) {
                std::string unused;
                if (!budget.Charge(EncryptionCost(content->algorithm), "part", unused)) return false;
                unsigned char* out = nullptr;
                int length = 0;
                if (PKCS12_pbe_crypt(content->algorithm, password, -1, content->enc_data->data,
                                     content->enc_data->length, &out, &length, 0) != nullptr) {
                    plain.assign(out, out + length);
                    OPENSSL_clear_free(out, static_cast<std::size_t>(length));
                    break;
                }
            }
        }
        const unsigned char* p = plain.data();
        SafeBagStackPtr bags(static_cast<STACK_OF(PKCS12_SAFEBAG)*>(static_cast<void*>(
            ASN1_item_d2i(nullptr, &p, static_cast<long>(plain.size()), ASN1_ITEM_rptr(PKCS12_SAFEBAGS)))));
        trailing = bags && p != plain.data() + plain.size();
    }
    ERR_clear_error();
    return trailing;
}

// The certificates of what the reader read, in file order, decoded by OpenSSL from the bags it kept.
bool ReaderCertificates(const Pkcs12Contents& contents, std::vector<Bytes>& certificates) {
    for (const Pkcs12Item& item : contents.items) {
        if (!item.isCertificate) continue;
        const unsigned char* p = item.der.data();
        SafeBagPtr bag(d2i_PKCS12_SAFEBAG(nullptr, &p, static_cast<long>(item.der.size())));
        X509Ptr certificate(bag ? PKCS12_SAFEBAG_get1_cert(bag.get()) : nullptr);
        if (!certificate) return false;
        certificates.push_back(Der(certificate.get()));
    }
    return true;
}

std::vector<Bytes> ReaderKeys(const Pkcs12Contents& contents) {
    std::vector<Bytes> keys;
    for (const Pkcs12Item& item : contents.items) {
        if (!item.IsKey()) continue;
        unsigned char* out = nullptr;
        const int length = i2d_PKCS8_PRIV_KEY_INFO(item.key.get(), &out);
        keys.emplace_back();
        if (length > 0) keys.back().assign(out, out + length);
        OPENSSL_clear_free(out, length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    return keys;
}

// Both read the file: the same keys and certificates as the command line's way, and the first key
// and the same certificates as PKCS12_parse where it read the file too.
void Compare(const ReadResult& ours, const Pkcs12Contents& contents, const ToolRead& tool,
             const OpenSslRead& parsed) {
    std::vector<Bytes> certificates;
    if (!ReaderCertificates(contents, certificates))
        Differ("a certificate the reader took does not decode", ours, "read");
    if (certificates != tool.certificates) Differ("the certificates differ", ours, "read");
    const std::vector<Bytes> keys = ReaderKeys(contents);
    if (keys != tool.keys) Differ("the private keys differ", ours, "read");
    if (!parsed.read) return;
    std::sort(certificates.begin(), certificates.end());
    if (certificates != parsed.certificates)
        Differ("the certificates differ from PKCS12_parse's", ours, "read");
    if (keys.empty() != (parsed.key == nullptr))
        Differ("one has a private key, the other none", ours, "read");
    if (keys.empty()) return;
    const unsigned char* p = keys.front().data();
    Pkcs8Ptr first(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(keys.front().size())));
    EvpPkeyPtr key(first ? EVP_PKCS82PKEY(first.get()) : nullptr);
    ERR_clear_error();
    if (!key) Differ("PKCS12_parse took a first key that OpenSSL cannot use", ours, "read");
    if (EVP_PKEY_eq(key.get(), parsed.key.get()) != 1) Differ("the first private keys differ", ours, "read");
}

// Why PKCS12_parse refuses a file the reader and the command line's way read, when the README
// documents the reader's answer as the sound one; null when nothing does.
const char* ParseRefusalExplained(PKCS12* p12, const ToolRead& tool) {
    if (!tool.keys.empty()) {
        const unsigned char* p = tool.keys.front().data();
        Pkcs8Ptr first(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(tool.keys.front().size())));
        EvpPkeyPtr key(first ? EVP_PKCS82PKEY(first.get()) : nullptr);
        ERR_clear_error();
        // The reader keeps a key as its PKCS#8 bytes, of whatever algorithm.
        if (!key) return "a key OpenSSL cannot use";
    }
    // PKCS12_parse opens every part with the password that verified the MAC, and without a MAC
    // takes the empty password as none; the reader opens each part with either.
    if (ToolReader({nullptr}).Read(p12).verdict == ToolRead::Verdict::Refused) return "one password";
    // It refuses a bag whose friendlyName is not a BMPString it can convert, or whose localKeyID is
    // not an OCTET STRING, of any kind of bag; the reader keeps attributes as their bytes, as the
    // command line reads them.
    if (tool.oddAttribute) return "an attribute";
    return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LegacyProviderAvailable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    OpenSslErrors::Clear();
    Pkcs12Contents contents;
    const ReadResult ours = ReadPkcs12(data, size, PasswordLess(), contents);
    OpenSslErrors::Clear();
    // A documented refusal; OpenSSL, without a limit, is not asked.
    if (ours.failure == ReadFailure::TooMuchWork) return 0;

    const unsigned char* in = data;
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &in, static_cast<long>(size)));
    ERR_clear_error();
    if (!p12) {
        if (ours.ok()) Differ("OpenSSL cannot decode a file the reader read", ours, "not PKCS#12");
        return 0;
    }
    const ToolRead tool = ToolReader({"", nullptr}).Read(p12.get());
    if (tool.verdict == ToolRead::Verdict::TooCostly) return 0;
    const bool toolRead = tool.verdict == ToolRead::Verdict::Read;
    if (!ours.ok()) {
        // Documented refusals of what OpenSSL passes over: a part encrypted to a public key, safe
        // contents nested deeper than any tool writes, and bytes after a part's SafeContents.
        const bool explained =
            (tool.skippedSafe && ours.failure == ReadFailure::UnsupportedAlgorithm) ||
            (ours.failure == ReadFailure::Damaged && (tool.deepNesting || PartWithTrailingBytes(p12.get())));
        if (toolRead && !explained) Differ("only OpenSSL read the file", ours, "read");
        return 0;
    }
    if (!toolRead) Differ("only the reader read the file", ours, tool.error);

    // The reader read the file, so what PKCS12_parse derives is bounded by what it did.
    OpenSslRead parsed = Parse(p12.get(), "");
    if (!parsed.read && !PKCS12_mac_present(p12.get())) parsed = Parse(p12.get(), nullptr);
    Compare(ours, contents, tool, parsed);
    if (!parsed.read && ParseRefusalExplained(p12.get(), tool) == nullptr)
        Differ("PKCS12_parse refused a file the reader read", ours, parsed.error);
    OpenSslErrors::Clear();
    return 0;
}
