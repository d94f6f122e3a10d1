// Files that ask for endless key derivation are refused before the work starts, and the work a file
// may cause in all is counted exactly.

#include "certificate/WorkLimits.h"

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>

#include "certificate/CertificateTestFolder.h"
#include "certificate/Inspection.h"
#include "certificate/Pkcs12Bags.h"
#include "support/pkcs12/Pkcs12Maker.h"

namespace kiv::certificate::testing {
namespace {

using kiv::testing::MakePfx;
using kiv::testing::PfxVariant;

const std::vector<Pkcs12Password> kPasswordLess = {{"", 0}, {nullptr, 0}};

std::vector<unsigned char> Der(PKCS12* p12) {
    std::vector<unsigned char> der(static_cast<std::size_t>(i2d_PKCS12(p12, nullptr)));
    unsigned char* out = der.data();
    i2d_PKCS12(p12, &out);
    return der;
}

unsigned char kSalt[8] = {1, 2, 3, 4, 5, 6, 7, 8};

// An AlgorithmIdentifier naming `iterations`; making one derives nothing.
X509_ALGOR* Algorithm(bool pbes2, int iterations) {
    if (pbes2) {
        unsigned char iv[16] = {};
        return PKCS5_pbe2_set_iv(EVP_aes_256_cbc(), iterations, kSalt, sizeof kSalt, iv, NID_hmacWithSHA256);
    }
    return PKCS5_pbe_set(NID_pbe_WithSHA1And3_Key_TripleDES_CBC, iterations, kSalt, sizeof kSalt);
}

Pkcs7Ptr EncryptedSafeNaming(bool pbes2, int iterations) {
    Pkcs7Ptr safe(PKCS7_new());
    PKCS7_set_type(safe.get(), NID_pkcs7_encrypted);
    PKCS7_ENC_CONTENT* content = safe->d.encrypted->enc_data;
    X509_ALGOR_free(content->algorithm);
    content->algorithm = Algorithm(pbes2, iterations);
    unsigned char junk[64];
    RAND_bytes(junk, sizeof junk);
    if (content->enc_data == nullptr) content->enc_data = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(content->enc_data, junk, sizeof junk);
    return safe;
}

Pkcs7Ptr ShroudedKeySafeNaming(int iterations) {
    X509SigPtr shrouded(X509_SIG_new());
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* data = nullptr;
    X509_SIG_getm(shrouded.get(), &algorithm, &data);
    X509AlgorPtr named(Algorithm(true, iterations));
    X509_ALGOR_copy(algorithm, named.get());
    unsigned char junk[64] = {};
    ASN1_OCTET_STRING_set(data, junk, sizeof junk);
    SafeBagStackPtr bags(sk_PKCS12_SAFEBAG_new_null());
    sk_PKCS12_SAFEBAG_push(bags.get(), PKCS12_SAFEBAG_create0_pkcs8(shrouded.release()));
    return Pkcs7Ptr(PKCS12_pack_p7data(bags.get()));
}

// A file whose one crafted part names `iterations`; the MAC, when there is one, names it too.
enum class Crafted { Mac, Pbes2Safe, LegacySafe, ShroudedKey };
std::vector<unsigned char> CraftedFile(Crafted crafted, int iterations) {
    Pkcs7StackPtr safes(sk_PKCS7_new_null());
    Pkcs7Ptr safe;
    switch (crafted) {
        case Crafted::Mac:
        case Crafted::Pbes2Safe:
            safe = EncryptedSafeNaming(true, crafted == Crafted::Mac ? 2048 : iterations);
            break;
        case Crafted::LegacySafe:
            safe = EncryptedSafeNaming(false, iterations);
            break;
        case Crafted::ShroudedKey:
            safe = ShroudedKeySafeNaming(iterations);
            break;
    }
    sk_PKCS7_push(safes.get(), safe.release());
    Pkcs12Ptr p12(PKCS12_add_safes(safes.get(), 0));
    // Sets the MAC's parameters only: its value is never computed here.
    if (crafted == Crafted::Mac) PKCS12_setup_mac(p12.get(), iterations, kSalt, sizeof kSalt, EVP_sha256());
    return Der(p12.get());
}

struct CraftedCase {
    const char* name;
    Crafted crafted;
    const char* part;
};

class CeilingTest : public CertificateFolderTest, public ::testing::WithParamInterface<CraftedCase> {};

// At the largest count a file can name, the answer comes at once, to a load and to inspect alike:
// the test would otherwise run for about an hour and hit its time-out (tests/CMakeLists.txt).
TEST_P(CeilingTest, LargestCountIsRefusedNamingThePartTheCountAndTheCeiling) {
    const std::string path = Path("crafted.pfx");
    const std::vector<unsigned char> der = CraftedFile(GetParam().crafted, INT_MAX);
    WriteFile(path, std::string(der.begin(), der.end()));

    const std::string refusal = std::string("The ") + GetParam().part +
                                " asks for 2,147,483,647 iterations of key derivation; at most "
                                "1,000,000 are accepted.";
    const CallResult loaded = Make()->Load(path, "", 1, 0);
    ASSERT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.description, refusal);
    // Inspecting the file reads it within the same limits.
    const Inspection inspection = InspectFile(path);
    EXPECT_EQ(inspection.kind, Inspection::Kind::Unreadable);
    EXPECT_EQ(inspection.detail, refusal);

    // Just above the ceiling is refused the same way; at the ceiling the derivation is attempted.
    Pkcs12Contents contents;
    const std::vector<unsigned char> above = CraftedFile(GetParam().crafted, kIterationCeiling + 1);
    EXPECT_EQ(ReadPkcs12(above.data(), above.size(), kPasswordLess, contents).failure,
              ReadFailure::TooMuchWork);
    WorkBudget tiny(1);
    const std::vector<unsigned char> at = CraftedFile(GetParam().crafted, kIterationCeiling);
    const ReadResult read = ReadPkcs12(at.data(), at.size(), kPasswordLess, contents, tiny);
    EXPECT_EQ(read.failure, ReadFailure::TooMuchWork);
    EXPECT_NE(read.description.find("past 1 hash rounds"), std::string::npos) << read.description;
}

const CraftedCase kCrafted[] = {
    {"Mac", Crafted::Mac, "file's integrity check"},
    {"Pbes2Safe", Crafted::Pbes2Safe, "encrypted part 1"},
    {"LegacySafe", Crafted::LegacySafe, "encrypted part 1"},
    {"ShroudedKey", Crafted::ShroudedKey, "private key 1"},
};
INSTANTIATE_TEST_SUITE_P(Parts, CeilingTest, ::testing::ValuesIn(kCrafted),
                         [](const auto& info) { return std::string(info.param.name); });

// Rounds as the derivations cost them: PBKDF2-HMAC two per iteration and output block, the PKCS#12
// derivation one per iteration and block, for the key and the IV in turn.
TEST(WorkBudgetTest, ALoadCostsWhatItsDerivationsCostAndNoMore) {
    struct Case {
        PfxVariant variant;
        std::uint64_t rounds;
        // Every derivation is one attempt the file shows before any is run: one round short of
        // them, the file is refused before the first.
        bool refusedAhead;
    };
    const Case cases[] = {
        // MAC 2048 (SHA-256, one block); certificates and key PBKDF2-SHA256 for AES-256: 2 x 4096.
        {PfxVariant::Pbes2Aes, 2048 + 4096 + 4096, true},
        // MAC SHA-1 keyed with no password: the empty password is tried first (2 x 2048). The parts
        // take the MAC's password first: 3DES key and IV (24 + 8 bytes of SHA-1) cost 3 x 2048 each.
        {PfxVariant::NullPasswordMac, 2 * 2048 + 2 * 3 * 2048, false},
        {PfxVariant::UnencryptedBags, 2048, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(kiv::testing::VariantName(c.variant));
        const std::vector<unsigned char> der = MakePfx(c.variant);
        Pkcs12Contents contents;
        WorkBudget exact(c.rounds);
        const ReadResult read = ReadPkcs12(der.data(), der.size(), kPasswordLess, contents, exact);
        EXPECT_TRUE(read.ok()) << read.description;
        EXPECT_EQ(exact.Spent(), c.rounds);

        WorkBudget short_(c.rounds - 1);
        const ReadResult refused = ReadPkcs12(der.data(), der.size(), kPasswordLess, contents, short_);
        EXPECT_EQ(refused.failure, ReadFailure::TooMuchWork);
        EXPECT_TRUE(contents.items.empty());
        EXPECT_EQ(short_.Spent() == 0, c.refusedAhead) << short_.Spent();
    }
}

// Thousands of tiny keys would each need a derivation of their own.
TEST(WorkBudgetTest, SaveOfTooManyKeysIsRefusedBeforeDerivingAny) {
    const std::vector<unsigned char> der = MakePfx(PfxVariant::UnencryptedBags);
    Pkcs12Contents contents;
    ASSERT_TRUE(ReadPkcs12(der.data(), der.size(), kPasswordLess, contents).ok());
    const std::size_t allowed = kDerivationBudget / (2 * static_cast<std::uint64_t>(kProtectionIterations));
    std::size_t keyAt = 0;
    while (!contents.items[keyAt].IsKey()) ++keyAt;
    while (contents.items.size() < allowed + 3) {  // three certificates in the file
        Pkcs12Item copy;
        copy.key.reset(static_cast<PKCS8_PRIV_KEY_INFO*>(
            ASN1_item_dup(ASN1_ITEM_rptr(PKCS8_PRIV_KEY_INFO), contents.items[keyAt].key.get())));
        copy.safe = contents.items[keyAt].safe;
        contents.items.push_back(std::move(copy));
    }
    DerivedKeys keys;
    std::vector<unsigned char> out;
    const CallResult encoded = EncodePkcs12(contents, {"pw", 2}, SaveOptions{}, keys, out);
    ASSERT_FALSE(encoded.ok);
    EXPECT_NE(encoded.description.find("too many keys"), std::string::npos) << encoded.description;
    EXPECT_EQ(keys.Derivations(), 0u);
}

}  // namespace
}  // namespace kiv::certificate::testing
