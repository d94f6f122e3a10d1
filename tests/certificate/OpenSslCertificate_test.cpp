#include <fcntl.h>
#include <openssl/pkcs12.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <thread>

#include "certificate/CertificateTestFolder.h"
#include "certificate/DerWalk.h"
#include "certificate/Pkcs12Bags.h"
#include "support/pkcs12/Pkcs12Maker.h"

namespace kiv::certificate::testing {
namespace {

using kiv::testing::PfxContents;
using kiv::testing::PfxVariant;
using kiv::testing::ReadPfx;
using kiv::testing::WritePfx;
constexpr auto kAes = SaveOptions::Algorithms::Aes256;

constexpr const char* kPassword = "Correct Horse 7";
constexpr const char* kPbes2 = "PBES2 PBKDF2 hmacWithSHA256 AES-256-CBC iter=10000";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

void ExpectSameContents(const PfxContents& source, const PfxContents& output) {
    ASSERT_EQ(output.keys.size(), source.keys.size());
    for (std::size_t i = 0; i < source.keys.size(); ++i) {
        EXPECT_EQ(output.keys[i].der, source.keys[i].der) << "key " << i;
        EXPECT_EQ(output.keys[i].attributes, source.keys[i].attributes) << "key " << i;
    }
    ASSERT_EQ(output.certs.size(), source.certs.size());
    for (std::size_t i = 0; i < source.certs.size(); ++i) {
        EXPECT_EQ(output.certs[i].der, source.certs[i].der) << "certificate " << i;
        EXPECT_EQ(output.certs[i].attributes, source.certs[i].attributes) << "certificate " << i;
    }
}

// Every password-less kind the usual tools write.
class RoundTripTest : public CertificateFolderTest, public ::testing::WithParamInterface<PfxVariant> {};

TEST_P(RoundTripTest, OutputOpensWithThePasswordAndHoldsEverythingTheSourceHeld) {
    const std::string source = Path("Source.pfx");
    const std::string output = Path("Source_Password.Pfx");
    ASSERT_TRUE(WritePfx(source, GetParam()));
    const std::string sourceBytes = ReadFile(source);
    const auto before = ReadPfx(source, "");
    ASSERT_TRUE(before.has_value());

    auto certificate = Make();
    ASSERT_TRUE(certificate);
    const CallResult loaded = certificate->Load(source, "", 1, 0);
    ASSERT_TRUE(loaded.ok) << loaded.description;
    const CallResult saved = certificate->Save(output, kPassword, 0, 1);
    ASSERT_TRUE(saved.ok) << saved.description;
    EXPECT_FALSE(saved.targetExists);

    const auto after = ReadPfx(output, kPassword);
    ASSERT_TRUE(after.has_value());
    ExpectSameContents(*before, *after);
    EXPECT_EQ(after->certs.size(), static_cast<std::size_t>(kiv::testing::kChainLength));
    EXPECT_EQ(after->keys.size(), GetParam() == PfxVariant::CertificatesOnly ? 0u : 1u);

    EXPECT_FALSE(ReadPfx(output, "").has_value());
    EXPECT_FALSE(ReadPfx(output, "correct horse 7").has_value());
    EXPECT_EQ(ReadFile(source), sourceBytes);
    EXPECT_EQ(Entries(), (std::set<std::string>{"Source.pfx", "Source_Password.Pfx"}));
}

TEST_P(RoundTripTest, OutputUsesPbes2AesAndAnHmacSha256MacWithFreshSalts) {
    ASSERT_TRUE(WritePfx(Path("a.pfx"), GetParam()));
    auto certificate = Make();
    ASSERT_TRUE(certificate->Load(Path("a.pfx"), "", 1, 0).ok);
    ASSERT_TRUE(certificate->Save(Path("one.pfx"), kPassword, 0, 1).ok);
    ASSERT_TRUE(certificate->Save(Path("two.pfx"), kPassword, 0, 1).ok);

    const auto one = ReadPfx(Path("one.pfx"), kPassword);
    const auto two = ReadPfx(Path("two.pfx"), kPassword);
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->mac, "SHA256 iter=10000");
    const std::string certs = std::string("certs ") + kPbes2;
    const std::string key = std::string("key ") + kPbes2;
    std::vector<std::string> expected = {certs, key};
    if (GetParam() == PfxVariant::CertificatesOnly) expected = {certs};
    if (GetParam() == PfxVariant::KeyFirst) expected = {key, certs};
    if (GetParam() == PfxVariant::MixedSafe) expected = {certs, key, certs};
    EXPECT_EQ(one->encryptions, expected);

    std::set<std::string> salts;
    for (const auto* contents : {&*one, &*two}) {
        for (const std::string& salt : contents->salts) {
            EXPECT_GE(salt.size(), 32u) << "salt of at least 16 bytes";
            salts.insert(salt);
        }
    }
    EXPECT_EQ(salts.size(), one->salts.size() + two->salts.size()) << "every salt is fresh";
}

INSTANTIATE_TEST_SUITE_P(Variants, RoundTripTest,
                         ::testing::Values(PfxVariant::EmptyPasswordMac, PfxVariant::NullPasswordMac,
                                           PfxVariant::NoMac, PfxVariant::UnencryptedBags,
                                           PfxVariant::Pbes2Aes, PfxVariant::Legacy,
                                           PfxVariant::ExtraAttributes, PfxVariant::CertificatesOnly,
                                           PfxVariant::EcKey, PfxVariant::KeyFirst, PfxVariant::MixedSafe),
                         [](const auto& info) { return kiv::testing::VariantName(info.param); });

// The safes of a file in order, each as its kind and its bags: "encrypted: cert key cert".
std::vector<std::string> Layout(const std::vector<unsigned char>& der, const char* password) {
    std::vector<std::string> layout;
    const unsigned char* in = der.data();
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &in, static_cast<long>(der.size())));
    Pkcs7StackPtr safes(p12 ? PKCS12_unpack_authsafes(p12.get()) : nullptr);
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        const bool encrypted = OBJ_obj2nid(safe->type) == NID_pkcs7_encrypted;
        SafeBagStackPtr bags(encrypted ? PKCS12_unpack_p7encdata(safe, password, -1)
                                       : PKCS12_unpack_p7data(safe));
        std::string text = encrypted ? "encrypted:" : "plain:";
        for (int b = 0; b < sk_PKCS12_SAFEBAG_num(bags.get()); ++b) {
            const int type = PKCS12_SAFEBAG_get_nid(sk_PKCS12_SAFEBAG_value(bags.get(), b));
            text += type == NID_certBag ? " cert" : type == NID_pkcs8ShroudedKeyBag ? " shrouded" : " other";
        }
        layout.push_back(text);
    }
    return layout;
}

// NSS and Java write the key's safe first; the copy keeps each source's order, and a safe that mixes
// keys and certificates becomes one safe per run, so every reader finds its usual kinds of safe.
TEST(CopyLayoutTest, TheCopyKeepsTheSourceOrderOfSafesAndBags) {
    struct Case {
        PfxVariant variant;
        std::vector<std::string> source;
        std::vector<std::string> copy;
    };
    const Case cases[] = {
        {PfxVariant::Pbes2Aes,
         {"encrypted: cert cert cert", "plain: shrouded"},
         {"encrypted: cert cert cert", "plain: shrouded"}},
        {PfxVariant::KeyFirst,
         {"plain: shrouded", "encrypted: cert cert cert"},
         {"plain: shrouded", "encrypted: cert cert cert"}},
        {PfxVariant::MixedSafe,
         {"encrypted: cert shrouded cert cert"},
         {"encrypted: cert", "plain: shrouded", "encrypted: cert cert"}},
        // Nothing but a key: its copy is in the format its key is written in.
        {PfxVariant::KeyOnly, {"plain: shrouded"}, {"plain: shrouded"}},
    };
    const Pkcs12Password password{kPassword, static_cast<int>(std::strlen(kPassword))};
    for (const Case& c : cases) {
        SCOPED_TRACE(kiv::testing::VariantName(c.variant));
        const std::vector<unsigned char> der = kiv::testing::MakePfx(c.variant);
        ASSERT_FALSE(der.empty());
        ASSERT_EQ(Layout(der, ""), c.source);
        Pkcs12Contents source;
        ASSERT_TRUE(ReadPkcs12(der.data(), der.size(), {{"", 0}, {nullptr, 0}}, source).ok());
        DerivedKeys keys;
        std::vector<unsigned char> copy;
        ASSERT_TRUE(EncodePkcs12(source, password, SaveOptions{}, keys, copy).ok);
        EXPECT_EQ(Layout(copy, kPassword), c.copy);
        const CallResult checked = CheckWrittenPkcs12(copy, password, keys, source, kAes);
        EXPECT_TRUE(checked.ok) << checked.description;

        // The check is exact: the same bags in another order are refused.
        Pkcs12Contents swapped;
        ASSERT_TRUE(ReadPkcs12(der.data(), der.size(), {{"", 0}, {nullptr, 0}}, swapped).ok());
        std::swap(swapped.items.front(), swapped.items.back());
        if (swapped.items.size() > 1) {
            EXPECT_FALSE(CheckWrittenPkcs12(copy, password, keys, swapped, kAes).ok);
        }
    }
}

// Java writes attribute sets in the order they were added, which DER would sort: a copy that
// re-encoded its bags would change those bytes.
TEST(CopyLayoutTest, AttributeSetsKeepTheOrderTheSourceWroteThemIn) {
    const std::vector<unsigned char> plain = kiv::testing::MakePfx(PfxVariant::CertificatesOnly);
    Pkcs12Contents certificates;
    ASSERT_TRUE(ReadPkcs12(plain.data(), plain.size(), {{"", 0}, {nullptr, 0}}, certificates).ok());
    const Secret& leafBag = certificates.items.front().der;
    const unsigned char* in = leafBag.data();
    SafeBagPtr decoded(d2i_PKCS12_SAFEBAG(nullptr, &in, static_cast<long>(leafBag.size())));
    ASSERT_TRUE(decoded);
    X509Ptr leaf(PKCS12_SAFEBAG_get1_cert(decoded.get()));
    ASSERT_TRUE(leaf);

    STACK_OF(PKCS12_SAFEBAG)* raw = nullptr;
    PKCS12_SAFEBAG* bag = PKCS12_add_cert(&raw, leaf.get());
    SafeBagStackPtr owner(raw);
    unsigned char id[] = {1, 2, 3, 4};
    ASSERT_TRUE(bag && PKCS12_add_friendlyname(bag, "Leaf", -1) && PKCS12_add_localkeyid(bag, id, sizeof id));
    std::vector<unsigned char> sorted(static_cast<std::size_t>(i2d_PKCS12_SAFEBAG(bag, nullptr)));
    unsigned char* out = sorted.data();
    i2d_PKCS12_SAFEBAG(bag, &out);
    std::span<const unsigned char> value;
    std::span<const unsigned char> attributes;
    std::vector<std::span<const unsigned char>> elements;
    ASSERT_TRUE(BagParts(sorted, value, attributes));
    ASSERT_TRUE(SequenceElements(attributes, elements));
    ASSERT_EQ(elements.size(), 2u);
    std::vector<unsigned char> unsorted(sorted.begin(), sorted.end() - static_cast<long>(attributes.size()));
    unsorted.insert(unsorted.end(), attributes.begin(), elements[0].begin());  // the SET's header
    unsorted.insert(unsorted.end(), elements[1].begin(), elements[1].end());
    unsorted.insert(unsorted.end(), elements[0].begin(), elements[0].end());
    ASSERT_EQ(unsorted.size(), sorted.size());
    ASSERT_NE(unsorted, sorted);

    const Secret safeContents = SequenceOf({std::span<const unsigned char>(unsorted)});
    Pkcs7Ptr safe(PKCS7_new());
    ASSERT_TRUE(PKCS7_set_type(safe.get(), NID_pkcs7_data));
    ASN1_OCTET_STRING_set(safe->d.data, safeContents.data(), static_cast<int>(safeContents.size()));
    Pkcs7StackPtr safes(sk_PKCS7_new_null());
    sk_PKCS7_push(safes.get(), safe.release());
    Pkcs12Ptr p12(PKCS12_add_safes(safes.get(), 0));
    ASSERT_TRUE(p12 && PKCS12_set_mac(p12.get(), "", 0, nullptr, 0, 2048, EVP_sha256()));
    std::vector<unsigned char> source(static_cast<std::size_t>(i2d_PKCS12(p12.get(), nullptr)));
    out = source.data();
    i2d_PKCS12(p12.get(), &out);

    Pkcs12Contents contents;
    ASSERT_TRUE(ReadPkcs12(source.data(), source.size(), {{"", 0}, {nullptr, 0}}, contents).ok());
    ASSERT_EQ(contents.items.size(), 1u);
    EXPECT_TRUE(std::equal(unsorted.begin(), unsorted.end(), contents.items[0].der.data(),
                           contents.items[0].der.data() + contents.items[0].der.size()));
    const Pkcs12Password password{kPassword, static_cast<int>(std::strlen(kPassword))};
    DerivedKeys keys;
    std::vector<unsigned char> copy;
    ASSERT_TRUE(EncodePkcs12(contents, password, SaveOptions{}, keys, copy).ok);
    Pkcs12Contents reread;
    ASSERT_TRUE(ReadProtectedPkcs12(copy, password, keys, reread).ok());
    ASSERT_EQ(reread.items.size(), 1u);
    EXPECT_TRUE(std::equal(unsorted.begin(), unsorted.end(), reread.items[0].der.data(),
                           reread.items[0].der.data() + reread.items[0].der.size()));
}

// A key finds its certificate by the public key whatever form the certificate wrote its EC point
// in; a second key of that certificate borrows the ID the first one gave it; a stranger gets none.
TEST(CopyLayoutTest, KeysWithoutAnIdGetTheirCertificatesWhateverItsPointForm) {
    for (const char* form : {"uncompressed", "compressed"}) {
        SCOPED_TRACE(form);
        const EvpPkeyPtr key(EVP_EC_gen("P-256"));
        const EvpPkeyPtr stranger(EVP_EC_gen("P-256"));
        const EvpPkeyPtr written(EVP_PKEY_dup(key.get()));
        ASSERT_TRUE(key && stranger && written);
        ASSERT_TRUE(EVP_PKEY_set_utf8_string_param(written.get(), "point-format", form));
        const X509Ptr x509(X509_new());
        ASSERT_TRUE(X509_gmtime_adj(X509_getm_notBefore(x509.get()), 0) &&
                    X509_gmtime_adj(X509_getm_notAfter(x509.get()), 3600) &&
                    X509_set_pubkey(x509.get(), written.get()) &&
                    X509_sign(x509.get(), key.get(), EVP_sha256()));
        const SafeBagPtr bag(PKCS12_SAFEBAG_create_cert(x509.get()));
        unsigned char* out = nullptr;
        const int length = i2d_PKCS12_SAFEBAG(bag.get(), &out);
        const OpenSslBytesPtr owner(out);

        Pkcs12Contents contents;
        contents.items.resize(4);
        contents.items[0].isCertificate = true;
        contents.items[0].der.Append({reinterpret_cast<const char*>(out), static_cast<std::size_t>(length)});
        contents.items[1].key.reset(EVP_PKEY2PKCS8(key.get()));
        contents.items[2].key.reset(EVP_PKEY2PKCS8(stranger.get()));
        contents.items[3].key.reset(EVP_PKEY2PKCS8(key.get()));
        PairKeysWithCertificates(contents);

        unsigned char digest[20];
        unsigned int size = 0;
        ASSERT_TRUE(X509_digest(x509.get(), EVP_sha1(), digest, &size));
        const std::vector<unsigned char> id(digest, digest + size);
        const auto holdsId = [&](std::span<const unsigned char> bytes) {
            return std::search(bytes.begin(), bytes.end(), id.begin(), id.end()) != bytes.end();
        };
        EXPECT_TRUE(holdsId({contents.items[0].der.data(), contents.items[0].der.size()}));
        EXPECT_TRUE(holdsId(contents.items[1].keyAttributes));
        EXPECT_TRUE(contents.items[2].keyAttributes.empty());
        EXPECT_EQ(contents.items[3].keyAttributes, contents.items[1].keyAttributes);
    }
}

using CertificateTest = CertificateFolderTest;

// The copy for older systems: 3DES parts and an HMAC-SHA1 MAC, read back by OpenSSL itself.
TEST_P(RoundTripTest, CompatibleCopyUsesTripleDesAndSha1AndHoldsEverything) {
    const std::string source = Path("Source.pfx");
    const std::string output = Path("Source_Password.Pfx");
    ASSERT_TRUE(WritePfx(source, GetParam()));
    const auto before = ReadPfx(source, "");
    ASSERT_TRUE(before.has_value());

    SaveOptions options;
    options.algorithms = SaveOptions::Algorithms::TripleDesSha1;
    options.iterations = 2048;
    options.parallelDerivations = false;
    auto certificate = Make(options);
    ASSERT_TRUE(certificate);
    ASSERT_TRUE(certificate->Load(source, "", 1, 0).ok);
    const CallResult saved = certificate->Save(output, kPassword, 0, 1);
    ASSERT_TRUE(saved.ok) << saved.description;

    const auto after = ReadPfx(output, kPassword);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->mac, "SHA1 iter=2048");
    ASSERT_FALSE(after->encryptions.empty());
    for (const std::string& part : after->encryptions)
        EXPECT_TRUE(part.ends_with(" PBE-SHA1-3DES iter=2048")) << part;
    ExpectSameContents(*before, *after);
    EXPECT_FALSE(ReadPfx(output, "wrong password").has_value());
}

TEST(SaveOptionsTest, IterationsOutsideTheFloorAndTheCeilingAreRefusedWithAReason) {
    SaveOptions options;
    EXPECT_EQ(SaveOptionsProblem(options), "");
    for (const int usable : {1000, 10000, 1'000'000}) {
        options.iterations = usable;
        EXPECT_EQ(SaveOptionsProblem(options), "") << usable;
    }
    for (const int unusable : {-1, 0, 999, 1'000'001}) {
        options.iterations = unusable;
        EXPECT_EQ(SaveOptionsProblem(options), "the iteration count must be from 1,000 to 1,000,000")
            << unusable;
    }
    options.iterations = 10000;
    options.algorithms = static_cast<SaveOptions::Algorithms>(7);
    EXPECT_NE(SaveOptionsProblem(options), "");
}

TEST_F(CertificateTest, SaveWithUnusableOptionsWritesNothing) {
    ASSERT_TRUE(WritePfx(Path("s.pfx"), PfxVariant::Pbes2Aes));
    SaveOptions options;
    options.iterations = 10;
    auto certificate = Make(options);
    ASSERT_TRUE(certificate && certificate->Load(Path("s.pfx"), "", 1, 0).ok);
    const CallResult saved = certificate->Save(Path("o.pfx"), kPassword, 0, 1);
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.description.find("iteration count"), std::string::npos) << saved.description;
    EXPECT_NE(access(Path("o.pfx").c_str(), F_OK), 0);
}

// The encoder with 3DES options: the check after writing accepts its output, from the keys it kept
// and from nothing, and refuses a wrong password.
TEST(CopyEncoderTest, TripleDesCopyPassesTheWrittenFileCheckAndRefusesAWrongPassword) {
    const std::vector<unsigned char> der = kiv::testing::MakePfx(PfxVariant::ExtraAttributes);
    Pkcs12Contents source;
    ASSERT_TRUE(ReadPkcs12(der.data(), der.size(), {{"", 0}, {nullptr, 0}}, source).ok());
    const Pkcs12Password password{kPassword, static_cast<int>(std::strlen(kPassword))};
    SaveOptions options;
    options.algorithms = SaveOptions::Algorithms::TripleDesSha1;
    for (const bool parallel : {true, false}) {
        SCOPED_TRACE(parallel ? "parallel" : "inline");
        options.parallelDerivations = parallel;
        DerivedKeys keys;
        std::vector<unsigned char> copy;
        const CallResult encoded = EncodePkcs12(source, password, options, keys, copy);
        ASSERT_TRUE(encoded.ok) << encoded.description;
        EXPECT_EQ(keys.Derivations(), 5u);  // key and IV for the key and for the certificates, the MAC
        const CallResult checked = CheckWrittenPkcs12(copy, password, keys, source, options.algorithms);
        EXPECT_TRUE(checked.ok) << checked.description;
        EXPECT_EQ(keys.Derivations(), 5u);
        // A copy that came out in another format than asked is no copy to publish.
        EXPECT_NE(CheckWrittenPkcs12(copy, password, keys, source, kAes).description.find("with 3DES"),
                  std::string::npos);

        DerivedKeys fresh;
        const CallResult again = CheckWrittenPkcs12(copy, password, fresh, source, options.algorithms);
        EXPECT_TRUE(again.ok) << again.description;
        EXPECT_EQ(fresh.Derivations(), 5u);
        DerivedKeys other;
        const CallResult wrong =
            CheckWrittenPkcs12(copy, {"Correct Horse 8", 15}, other, source, options.algorithms);
        EXPECT_FALSE(wrong.ok);
        EXPECT_NE(wrong.description.find(kWrongPasswordText), std::string::npos) << wrong.description;

        // Exact: the same bags in another order are refused.
        Pkcs12Contents swapped;
        ASSERT_TRUE(ReadPkcs12(der.data(), der.size(), {{"", 0}, {nullptr, 0}}, swapped).ok());
        std::swap(swapped.items.front(), swapped.items.back());
        EXPECT_FALSE(CheckWrittenPkcs12(copy, password, keys, swapped, options.algorithms).ok);
    }
}

TEST_F(CertificateTest, AttributeSetsSurviveUnchanged) {
    ASSERT_TRUE(WritePfx(Path("a.pfx"), PfxVariant::ExtraAttributes));
    auto certificate = Make();
    ASSERT_TRUE(certificate->Load(Path("a.pfx"), "", 1, 0).ok);
    ASSERT_TRUE(certificate->Save(Path("b.pfx"), kPassword, 0, 1).ok);
    const auto output = ReadPfx(Path("b.pfx"), kPassword);
    ASSERT_TRUE(output && output->keys.size() == 1);
    const std::vector<std::string>& key = output->keys[0].attributes;
    const auto has = [&](const std::string& line) {
        return std::find(key.begin(), key.end(), line) != key.end();
    };
    EXPECT_TRUE(has("friendlyName=Kiv Leaf Key \xc3\xbc"));
    EXPECT_TRUE(has("localKeyID=4b69760102030405"));
    EXPECT_TRUE(has("Microsoft CSP Name=Microsoft Enhanced RSA and AES Cryptographic Provider"));
    EXPECT_TRUE(has("1.3.6.1.4.1.99999.7=custom value"));
    EXPECT_EQ(output->certs[2].attributes, (std::vector<std::string>{"friendlyName=Kiv Root"}));
}

TEST_F(CertificateTest, NonAsciiPasswordIsUsedAsUtf8) {
    const std::string password = "p\xc3\xa4ss w\xc3\xb6rd \xe2\x82\xac";
    ASSERT_TRUE(WritePfx(Path("a.pfx"), PfxVariant::Pbes2Aes));
    auto certificate = Make();
    ASSERT_TRUE(certificate->Load(Path("a.pfx"), "", 1, 0).ok);
    ASSERT_TRUE(certificate->Save(Path("b.pfx"), password, 0, 1).ok);
    EXPECT_TRUE(ReadPfx(Path("b.pfx"), password).has_value());
    EXPECT_FALSE(ReadPfx(Path("b.pfx"), "p\xe4ss w\xf6rd \x80").has_value());
}

TEST_F(CertificateTest, PasswordThatIsNotUtf8IsRefusedAndNothingIsWritten) {
    ASSERT_TRUE(WritePfx(Path("a.pfx"), PfxVariant::Pbes2Aes));
    auto certificate = Make();
    ASSERT_TRUE(certificate->Load(Path("a.pfx"), "", 1, 0).ok);
    const CallResult saved = certificate->Save(Path("b.pfx"), "p\xe4ss", 0, 1);
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.description.find("UTF-8"), std::string::npos);
    EXPECT_EQ(Entries(), std::set<std::string>{"a.pfx"});
}

TEST_F(CertificateTest, LoadWithTheRightPasswordOpensAProtectedFile) {
    ASSERT_TRUE(WritePfx(Path("a.pfx"), PfxVariant::PasswordProtected, "s3cret"));
    auto certificate = Make();
    EXPECT_TRUE(certificate->Load(Path("a.pfx"), "s3cret", 1, 0).ok);
}

// --- Load failures ---------------------------------------------------------------------------

struct BadSource {
    const char* name;
    void (*make)(const std::string& path);
    const char* expected;  // part of the description, lower case
};

class LoadFailureTest : public CertificateFolderTest, public ::testing::WithParamInterface<BadSource> {};

TEST_P(LoadFailureTest, FailsWithADescriptionAndSaveThenRefuses) {
    const std::string source = Path("bad.pfx");
    GetParam().make(source);
    auto certificate = Make();
    const CallResult loaded = certificate->Load(source, "", 1, 0);
    EXPECT_FALSE(loaded.ok);
    EXPECT_NE(Lower(loaded.description).find(GetParam().expected), std::string::npos) << loaded.description;

    const CallResult saved = certificate->Save(Path("bad_Password.Pfx"), kPassword, 0, 1);
    EXPECT_FALSE(saved.ok);
    EXPECT_FALSE(saved.description.empty());
    EXPECT_FALSE(std::filesystem::exists(Path("bad_Password.Pfx")));
}

std::string ValidFile(PfxVariant variant) {
    char pattern[] = "/tmp/kiv-valid-XXXXXX";
    const int fd = mkstemp(pattern);
    close(fd);
    WritePfx(pattern, variant);
    std::string bytes = ReadFile(pattern);
    unlink(pattern);
    return bytes;
}

const BadSource kBadSources[] = {
    {"Garbage", [](const std::string& p) { WriteFile(p, std::string(3000, '\x5a')); }, "not a pkcs#12"},
    {"PemText",
     [](const std::string& p) {
         WriteFile(p, "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");
     },
     "pem"},
    {"Truncated",
     [](const std::string& p) {
         const std::string bytes = ValidFile(PfxVariant::Pbes2Aes);
         WriteFile(p, bytes.substr(0, bytes.size() / 2));
     },
     "not a pkcs#12"},
    {"Empty", [](const std::string& p) { WriteFile(p, ""); }, "empty"},
    {"Missing", [](const std::string&) {}, "does not exist"},
    {"Folder", [](const std::string& p) { mkdir(p.c_str(), 0700); }, "folder"},
    {"Fifo", [](const std::string& p) { mkfifo(p.c_str(), 0600); }, "fifo"},
    {"Oversize",
     [](const std::string& p) {
         const int fd = open(p.c_str(), O_WRONLY | O_CREAT, 0600);
         EXPECT_EQ(ftruncate(fd, 5 * 1024 * 1024), 0);
         close(fd);
     },
     "too large"},
    {"PasswordProtected", [](const std::string& p) { WritePfx(p, PfxVariant::PasswordProtected); },
     "password is not correct"},
    {"CertificateDer",
     [](const std::string& p) {
         WritePfx(p, PfxVariant::Pbes2Aes);
         const auto contents = ReadPfx(p, "");
         ASSERT_TRUE(contents.has_value());
         WriteFile(p, std::string(contents->certs[0].der.begin(), contents->certs[0].der.end()));
     },
     "not a pkcs#12"},
    {"KeyWithoutCertificate", [](const std::string& p) { WritePfx(p, PfxVariant::KeyOnly); },
     "no certificate"},
};

INSTANTIATE_TEST_SUITE_P(Sources, LoadFailureTest, ::testing::ValuesIn(kBadSources),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CertificateTest, WrongPasswordDescriptionIsThePlatformWording) {
    ASSERT_TRUE(WritePfx(Path("a.pfx"), PfxVariant::PasswordProtected));
    const CallResult loaded = Make()->Load(Path("a.pfx"), "", 1, 0);
    EXPECT_EQ(loaded.description, "The specified password is not correct.");
}

// The MAC is checked alongside the decryption of the parts; a bad one must still fail the load.
TEST_F(CertificateTest, SourceWithABadMacButIntactPartsIsRefused) {
    for (const PfxVariant variant : {PfxVariant::Pbes2Aes, PfxVariant::NullPasswordMac}) {
        std::string bytes = ValidFile(variant);
        const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
        Pkcs12Ptr p12(d2i_PKCS12(nullptr, &in, static_cast<long>(bytes.size())));
        ASSERT_TRUE(p12);
        const ASN1_OCTET_STRING* mac = nullptr;
        PKCS12_get0_mac(&mac, nullptr, nullptr, nullptr, p12.get());
        ASSERT_NE(mac, nullptr);
        const std::size_t at = bytes.find(std::string(reinterpret_cast<const char*>(mac->data), mac->length));
        ASSERT_NE(at, std::string::npos);
        bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
        WriteFile(Path("bad-mac.pfx"), bytes);
        auto certificate = Make();
        const CallResult loaded = certificate->Load(Path("bad-mac.pfx"), "", 1, 0);
        EXPECT_FALSE(loaded.ok) << kiv::testing::VariantName(variant);
        EXPECT_EQ(loaded.description, kWrongPasswordText);
        EXPECT_FALSE(certificate->Save(Path("out.pfx"), kPassword, 0, 1).ok);
    }
}

// Damaged files of every length and with single bytes changed: never a crash or hang, and a
// failure always says something.
TEST_F(CertificateTest, DamagedFilesFailCleanly) {
    const std::string bytes = ValidFile(PfxVariant::NoMac);
    ASSERT_GT(bytes.size(), 1000u);
    const std::string path = Path("damaged.pfx");
    for (std::size_t length = 1; length < bytes.size(); length += bytes.size() / 97 + 1) {
        WriteFile(path, bytes.substr(0, length));
        const CallResult loaded = Make()->Load(path, "", 1, 0);
        EXPECT_FALSE(loaded.ok) << length;
        EXPECT_FALSE(loaded.description.empty()) << length;
    }
    for (std::size_t at = 0; at < bytes.size(); at += bytes.size() / 131 + 1) {
        std::string changed = bytes;
        changed[at] = static_cast<char>(changed[at] ^ 0x41);
        WriteFile(path, changed);
        auto certificate = Make();
        const CallResult loaded = certificate->Load(path, "", 1, 0);
        if (!loaded.ok) {
            EXPECT_FALSE(loaded.description.empty()) << at;
            continue;
        }
        const CallResult saved = certificate->Save(Path("out.pfx"), kPassword, 0, 1);
        if (saved.ok) std::filesystem::remove(Path("out.pfx"));
    }
}

// --- Save ------------------------------------------------------------------------------------

class SaveTest : public CertificateFolderTest {
  protected:
    void SetUp() override {
        CertificateFolderTest::SetUp();
        source_ = Path("Source.pfx");
        ASSERT_TRUE(WritePfx(source_, PfxVariant::Pbes2Aes));
        certificate_ = Make();
        const CallResult loaded = certificate_->Load(source_, "", 1, 0);
        ASSERT_TRUE(loaded.ok) << loaded.description;
    }

    std::string source_;
    std::unique_ptr<Certificate> certificate_;
};

TEST_F(SaveTest, ExistingOutputIsLeftUntouched) {
    const std::string output = Path("Source_Password.Pfx");
    WriteFile(output, "keep me");
    const CallResult saved = certificate_->Save(output, kPassword, 0, 1);
    EXPECT_FALSE(saved.ok);
    EXPECT_TRUE(saved.targetExists);
    EXPECT_NE(saved.description.find("already exists"), std::string::npos);
    EXPECT_EQ(ReadFile(output), "keep me");
    EXPECT_EQ(Entries(), (std::set<std::string>{"Source.pfx", "Source_Password.Pfx"}));
}

TEST_F(SaveTest, OnlyThePkcs12TypeWithTheWholeChainIsOffered) {
    EXPECT_FALSE(certificate_->Save(Path("a.pfx"), kPassword, 1, 1).ok);
    EXPECT_FALSE(certificate_->Save(Path("b.pfx"), kPassword, 0, 2).ok);
    EXPECT_EQ(Entries(), std::set<std::string>{"Source.pfx"});
}

TEST_F(SaveTest, WithoutLoadFails) {
    const CallResult saved = Make()->Save(Path("out.pfx"), kPassword, 0, 1);
    EXPECT_FALSE(saved.ok);
    EXPECT_NE(saved.description.find("loaded"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Path("out.pfx")));
}

struct ModeCase {
    unsigned source;
    unsigned output;
};

class SaveModeTest : public CertificateFolderTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(SaveModeTest, OutputIsNeverWiderThanTheSource) {
    ASSERT_TRUE(WritePfx(Path("s.pfx"), PfxVariant::Pbes2Aes));
    ASSERT_EQ(chmod(Path("s.pfx").c_str(), GetParam().source), 0);
    auto certificate = Make();
    ASSERT_TRUE(certificate->Load(Path("s.pfx"), "", 1, 0).ok);
    ASSERT_TRUE(certificate->Save(Path("o.pfx"), kPassword, 0, 1).ok);
    EXPECT_EQ(Mode(Path("o.pfx")), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(Modes, SaveModeTest,
                         ::testing::Values(ModeCase{0600, 0600}, ModeCase{0644, 0644}, ModeCase{0640, 0640},
                                           ModeCase{0400, 0400}, ModeCase{0755, 0644}, ModeCase{04711, 0600}),
                         [](const auto& info) { return "Source" + std::to_string(info.param.source); });

// Groups this process may give a file: its own, its supplementary ones, any when it is root.
bool MayUseGroup(gid_t group) {
    if (::geteuid() == 0 || ::getegid() == group) return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
    return count > 0 && std::count(groups.begin(), groups.begin() + count, group) > 0;
}

gid_t Group(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_gid : static_cast<gid_t>(-1);
}

// A 0640 source in another group, in a setgid folder of a third group: the copy is 0640 and in the
// source's group when the user may set it, else in the group it was created with (the folder's).
TEST_F(CertificateTest, CopyTakesTheSourcesGroupInASetgidFolder) {
    const gid_t sourceGroup = ::geteuid() == 0 ? 4242 : ::getegid();
    const gid_t folderGroup = ::geteuid() == 0 ? 4343 : static_cast<gid_t>(-1);
    if (folderGroup != static_cast<gid_t>(-1)) {
        ASSERT_EQ(::chown(folder_.c_str(), -1, folderGroup), 0);
    }
    ASSERT_EQ(::chmod(folder_.c_str(), 02775), 0);
    kiv::testing::UmaskScope scope(022);

    const std::string source = Path("server.pfx");
    ASSERT_TRUE(kiv::testing::WritePfx(source, kiv::testing::PfxVariant::Pbes2Aes));
    ASSERT_EQ(::chown(source.c_str(), -1, sourceGroup), 0) << std::strerror(errno);
    ASSERT_EQ(::chmod(source.c_str(), 0640), 0);
    auto certificate = Make();
    ASSERT_TRUE(certificate->Load(source, "", 1, 0).ok);
    const CallResult saved = certificate->Save(Path("server_Password.Pfx"), "pw", 0, 1);
    ASSERT_TRUE(saved.ok) << saved.description;

    EXPECT_EQ(Mode(Path("server_Password.Pfx")), 0640u);
    EXPECT_EQ(Group(Path("server_Password.Pfx")), MayUseGroup(sourceGroup) ? sourceGroup : Group(folder_));
}

// --- Keys shared between writing and checking -------------------------------------------------

std::vector<unsigned char> Direct(const KeyRequest& r) {
    std::vector<unsigned char> key(r.length);
    auto* salt = const_cast<unsigned char*>(r.salt.data());
    const int saltLength = static_cast<int>(r.salt.size());
    const int ok = r.kind == KeyKind::Pbkdf2
                       ? PKCS5_PBKDF2_HMAC(r.password.data, r.password.length, salt, saltLength, r.iterations,
                                           r.digest, static_cast<int>(r.length), key.data())
                       : PKCS12_key_gen_utf8_ex(r.password.data, r.password.length, salt, saltLength,
                                                r.kind == KeyKind::Pkcs12Key  ? PKCS12_KEY_ID
                                                : r.kind == KeyKind::Pkcs12Iv ? PKCS12_IV_ID
                                                                              : PKCS12_MAC_ID,
                                                r.iterations, static_cast<int>(r.length), key.data(),
                                                r.digest, nullptr, nullptr);
    EXPECT_EQ(ok, 1);
    return key;
}

// Saves on several threads at once share the helper threads; each gets its own keys, whether it
// hands them to the helpers or derives them itself.
TEST(DerivedKeysTest, ConcurrentPreparesEachGetTheirOwnKeys) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int round = 0; round < 5; ++round) {
                std::vector<KeyRequest> requests;
                for (unsigned char i = 0; i < 4; ++i) {
                    requests.push_back({i % 2 ? KeyKind::Pbkdf2 : KeyKind::Pkcs12Mac,
                                        {"pw", 2},
                                        {static_cast<unsigned char>(t), static_cast<unsigned char>(round), i},
                                        50,
                                        EVP_sha256(),
                                        32});
                }
                DerivedKeys keys;
                if (!keys.Prepare(requests, (t + round) % 2 == 0)) ++wrong;
                for (const KeyRequest& request : requests) {
                    const Secret* key = keys.Has(request) ? keys.Get(request) : nullptr;
                    if (key == nullptr ||
                        std::vector<unsigned char>(key->data(), key->data() + key->size()) != Direct(request))
                        ++wrong;
                }
                if (keys.Derivations() != requests.size()) ++wrong;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

// Each request differs from the first in one input only; a memo that ignored any of them would
// hand back the first key.
TEST(DerivedKeysTest, EveryInputOfTheDerivationSelectsItsOwnKey) {
    const KeyRequest base{KeyKind::Pbkdf2, {"pw", 2}, {1, 2, 3, 4}, 3, EVP_sha256(), 32};
    std::vector<KeyRequest> requests(9, base);
    requests[1].kind = KeyKind::Pkcs12Mac;
    requests[2].password = {"pX", 2};
    requests[3].password = {"pw!", 3};
    requests[4].salt = {1, 2, 3, 5};
    requests[5].iterations = 4;
    requests[6].digest = EVP_sha512();
    requests[7].length = 16;
    requests[8] = {KeyKind::Pkcs12Mac, {nullptr, 0}, {9}, 2, EVP_sha256(), 32};
    KeyRequest empty = requests[8];
    empty.password = {"", 0};  // differs from no password for the MAC key
    requests.push_back(empty);
    for (const KeyKind kind : {KeyKind::Pkcs12Key, KeyKind::Pkcs12Iv}) {
        KeyRequest pkcs12 = base;
        pkcs12.kind = kind;
        requests.push_back(pkcs12);
    }

    DerivedKeys keys;
    ASSERT_TRUE(keys.Prepare(requests));
    EXPECT_EQ(keys.Derivations(), requests.size());
    std::set<std::vector<unsigned char>> distinct;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const Secret* key = keys.Get(requests[i]);
        ASSERT_NE(key, nullptr) << i;
        const std::vector<unsigned char> got(key->data(), key->data() + key->size());
        EXPECT_EQ(got, Direct(requests[i])) << i;
        distinct.insert(got);
    }
    EXPECT_EQ(distinct.size(), requests.size());
    EXPECT_EQ(keys.Derivations(), requests.size()) << "known keys are not derived again";

    KeyRequest fresh = base;
    fresh.salt = {7};
    ASSERT_NE(keys.Get(fresh), nullptr);
    EXPECT_EQ(keys.Derivations(), requests.size() + 1);
    EXPECT_TRUE(keys.Prepare({base, fresh}));
    EXPECT_EQ(keys.Derivations(), requests.size() + 1);
}

// The check of a written file, fed with bytes as a damaged or altered disk would return them.
class WrittenFileCheckTest : public CertificateFolderTest {
  protected:
    void SetUp() override {
        CertificateFolderTest::SetUp();
        ASSERT_TRUE(WritePfx(Path("s.pfx"), PfxVariant::ExtraAttributes));
        const std::string bytes = ReadFile(Path("s.pfx"));
        ASSERT_TRUE(ReadPkcs12(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                               {{"", 0}, {nullptr, 0}}, source_)
                        .ok());
        const CallResult encoded = EncodePkcs12(source_, password_, SaveOptions{}, keys_, der_);
        ASSERT_TRUE(encoded.ok) << encoded.description;
        ASSERT_EQ(keys_.Derivations(), 3u);  // the key, the certificates, the MAC
    }

    CallResult Check(const std::vector<unsigned char>& bytes) {
        return CheckWrittenPkcs12(bytes, password_, keys_, source_, kAes);
    }

    // A valid MAC over altered contents, so that only decryption can notice.
    std::vector<unsigned char> WithNewMac(const std::vector<unsigned char>& bytes) {
        const unsigned char* in = bytes.data();
        Pkcs12Ptr p12(d2i_PKCS12(nullptr, &in, static_cast<long>(bytes.size())));
        EXPECT_TRUE(p12);
        if (!p12) return {};
        EXPECT_EQ(
            PKCS12_set_mac(p12.get(), password_.data, password_.length, nullptr, 16, 10000, EVP_sha256()), 1);
        std::vector<unsigned char> out(static_cast<std::size_t>(i2d_PKCS12(p12.get(), nullptr)));
        unsigned char* o = out.data();
        i2d_PKCS12(p12.get(), &o);
        return out;
    }

    std::size_t Find(const unsigned char* data, std::size_t length) const {
        const auto at = std::search(der_.begin(), der_.end(), data, data + length);
        EXPECT_NE(at, der_.end());
        return static_cast<std::size_t>(at - der_.begin());
    }

    // Offsets of the middle byte of the certificates' and the key's ciphertext.
    std::vector<std::size_t> CiphertextMiddles() {
        const unsigned char* in = der_.data();
        Pkcs12Ptr p12(d2i_PKCS12(nullptr, &in, static_cast<long>(der_.size())));
        Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12.get()));
        EXPECT_EQ(sk_PKCS7_num(safes.get()), 2);
        const ASN1_OCTET_STRING* certs = sk_PKCS7_value(safes.get(), 0)->d.encrypted->enc_data->enc_data;
        SafeBagStackPtr keyBags(PKCS12_unpack_p7data(sk_PKCS7_value(safes.get(), 1)));
        const ASN1_OCTET_STRING* key = nullptr;
        X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(sk_PKCS12_SAFEBAG_value(keyBags.get(), 0)), nullptr, &key);
        std::vector<std::size_t> middles;
        for (const ASN1_OCTET_STRING* text : {certs, key})
            middles.push_back(Find(text->data, static_cast<std::size_t>(text->length)) + text->length / 2);
        return middles;
    }

    Pkcs12Password password_{kPassword, static_cast<int>(std::strlen(kPassword))};
    Pkcs12Contents source_;
    DerivedKeys keys_;
    std::vector<unsigned char> der_;
};

TEST_F(WrittenFileCheckTest, UnchangedFilePassesWithoutDerivingAgain) {
    const CallResult checked = Check(der_);
    EXPECT_TRUE(checked.ok) << checked.description;
    EXPECT_EQ(keys_.Derivations(), 3u);

    DerivedKeys fresh;  // the same check with nothing known derives every key itself
    EXPECT_TRUE(CheckWrittenPkcs12(der_, password_, fresh, source_, kAes).ok);
    EXPECT_EQ(fresh.Derivations(), 3u);
    EXPECT_FALSE(CheckWrittenPkcs12(der_, {"wrong", 5}, fresh, source_, kAes).ok);

    const CallResult remaced = Check(WithNewMac(der_));  // the helper below leaves good files good
    EXPECT_TRUE(remaced.ok) << remaced.description;
}

TEST_F(WrittenFileCheckTest, SaltsAndCountsAreTakenFromTheFile) {
    WriteFile(Path("w.pfx"), std::string(der_.begin(), der_.end()));
    const auto read = ReadPfx(Path("w.pfx"), kPassword);
    ASSERT_TRUE(read && read->salts.size() == 3);
    std::vector<std::size_t> salts;
    for (const std::string& hex : read->salts) {
        std::vector<unsigned char> salt;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            salt.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
        salts.push_back(Find(salt.data(), salt.size()));
    }
    std::sort(salts.begin(), salts.end());  // the MAC's comes last and a new MAC replaces it
    for (std::size_t i = 0; i < salts.size(); ++i) {
        std::vector<unsigned char> changed = der_;
        changed[salts[i] + 3] ^= 0x01;
        const std::size_t before = keys_.Derivations();
        EXPECT_FALSE(Check(i + 1 < salts.size() ? WithNewMac(changed) : changed).ok) << i;
        // Derived for real: the changed salt, and the new MAC's.
        EXPECT_EQ(keys_.Derivations(), before + (i + 1 < salts.size() ? 2 : 1)) << i;
    }
    // 10,000 as DER: the key's, the certificates' and, last, the MAC's count.
    const unsigned char count[] = {0x02, 0x02, 0x27, 0x10};
    std::vector<std::size_t> counts;
    for (auto at = der_.begin(); (at = std::search(at, der_.end(), count, count + 4)) != der_.end(); ++at)
        counts.push_back(static_cast<std::size_t>(at - der_.begin()));
    ASSERT_EQ(counts.size(), 3u);
    for (std::size_t i = 0; i < counts.size(); ++i) {
        std::vector<unsigned char> changed = der_;
        changed[counts[i] + 3] = 0x11;
        EXPECT_FALSE(Check(i + 1 < counts.size() ? WithNewMac(changed) : changed).ok) << i;
    }
}

TEST_F(WrittenFileCheckTest, ChangedCiphertextOrMacFails) {
    for (const std::size_t at : CiphertextMiddles()) {
        std::vector<unsigned char> changed = der_;
        changed[at] ^= 0x20;
        EXPECT_FALSE(Check(changed).ok) << at;
        EXPECT_FALSE(Check(WithNewMac(changed)).ok) << at;
    }
    std::vector<unsigned char> changed = der_;
    const ASN1_OCTET_STRING* mac = nullptr;
    {
        const unsigned char* in = der_.data();
        Pkcs12Ptr p12(d2i_PKCS12(nullptr, &in, static_cast<long>(der_.size())));
        PKCS12_get0_mac(&mac, nullptr, nullptr, nullptr, p12.get());
        changed[Find(mac->data, static_cast<std::size_t>(mac->length)) + mac->length - 1] ^= 0x01;
    }
    EXPECT_FALSE(Check(changed).ok);
    changed = der_;
    changed.push_back(0);  // trailing bytes
    EXPECT_FALSE(Check(changed).ok);
    EXPECT_FALSE(Check(std::vector<unsigned char>(der_.begin(), der_.end() - 1)).ok);
}

// Every byte but the version number is either covered by the MAC or an input of a derivation.
TEST_F(WrittenFileCheckTest, NoSingleChangedByteGoesUnnoticed) {
    for (std::size_t at = 0; at < der_.size(); ++at) {
        if (at == 6) continue;  // SEQUENCE header of four bytes, then INTEGER 3
        std::vector<unsigned char> changed = der_;
        changed[at] ^= 0x04;
        EXPECT_FALSE(Check(changed).ok) << at;
    }
}

}  // namespace
}  // namespace kiv::certificate::testing
