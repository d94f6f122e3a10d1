#pragma once

// Test PKCS#12 files made with OpenSSL: a root CA, an intermediate and a leaf, written in the forms
// that tools write password-less files in, and a reader to compare what files hold.

#include <optional>
#include <string>
#include <vector>

namespace kiv::testing {

enum class PfxVariant {
    EmptyPasswordMac,   // 3DES key and certificates, SHA-1 MAC, all keyed with the empty password
    NullPasswordMac,    // the same, keyed with no password at all (NULL), as some exports are
    NoMac,              // 3DES with the empty password and no MAC
    UnencryptedBags,    // a plain key bag and plain certificates, SHA-256 MAC with the empty password
    Pbes2Aes,           // PBES2 AES-256-CBC key and certificates, SHA-256 MAC, empty password
    Legacy,             // RC2-40 certificates and a 3DES key, SHA-1 MAC, empty password
    PasswordProtected,  // as Pbes2Aes, keyed with the given password (kTestPassword when none)
    ExtraAttributes,    // as Pbes2Aes, with friendlyName on every bag, a CSP name and a custom attribute
    CertificatesOnly,   // the three certificates and no key
    KeyOnly,            // a key and no certificate
    EcKey,              // as Pbes2Aes with an EC P-256 leaf key
    KeyFirst,           // as Pbes2Aes with the key's safe before the certificates' (NSS, Java)
    MixedSafe,          // one encrypted safe: leaf, shrouded key, intermediate, root
    HugeMacCount,       // as Pbes2Aes, its MAC naming 2,147,483,647 iterations (and never computed)
    ManyKeys,           // as UnencryptedBags with 600 key bags: more than one save may derive keys for
    HostileNames,       // as Pbes2Aes, the key's friendlyName holding terminal control sequences
};

// The key's friendlyName in a HostileNames file: sets the title, clears the screen, fakes a line.
inline constexpr const char* kHostileName = "\x1b]0;owned\x07\x1b[2J\r\nOK\tforged\xc2\x9b";

inline constexpr const char* kTestPassword = "Secret-1";

// Every variant holds the leaf, the intermediate and the root, in that order (KeyOnly: none).
inline constexpr int kChainLength = 3;

// Writes a file of `variant`. `password` keys the file (the password-less variants ignore it).
bool WritePfx(const std::string& path, PfxVariant variant, const std::string& password = "");

// The DER of such a file, empty when it could not be made.
std::vector<unsigned char> MakePfx(PfxVariant variant, const std::string& password = "");

// A short name for test output, e.g. "Pbes2Aes".
std::string VariantName(PfxVariant variant);

// The leaf's key, the leaf and the two CA certificates as PEM files, for the command-line tools.
struct PemFiles {
    std::string key;  // PKCS#8
    std::string leaf;
    std::string chain;  // intermediate then root
    std::string intermediate;
    std::string root;
};
// `ecLeaf`: the EC P-256 leaf instead of the RSA one; its files are named ec-*.pem.
std::optional<PemFiles> WritePem(const std::string& folder, bool ecLeaf = false);

struct PfxBag {
    std::vector<unsigned char> der;       // PKCS#8 of a key, X.509 of a certificate
    std::vector<std::string> attributes;  // "name=value" in bag order; strings as UTF-8, other values as hex
};

struct PfxContents {
    std::vector<PfxBag> keys;   // file order
    std::vector<PfxBag> certs;  // file order
    std::string mac;            // e.g. "SHA256 iter=10000", empty when the file has no MAC
    // One entry per encrypted safe and per shrouded key, in file order, e.g.
    // "certs PBES2 PBKDF2 hmacWithSHA256 AES-256-CBC iter=10000" or "key PBE-SHA1-3DES iter=2048".
    std::vector<std::string> encryptions;
    std::vector<std::string> salts;  // hex of every salt in the file (MAC and encryption)
};

// Opens `path` with `password` (the empty one also tries no password at all); nothing when it
// does not open.
std::optional<PfxContents> ReadPfx(const std::string& path, const std::string& password);

}  // namespace kiv::testing
