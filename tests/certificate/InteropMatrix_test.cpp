// Password-less files as the tools people export with write them, protected by this program, then
// opened by every other tool with the password. Each test is one producer; each copy is read by the
// openssl command line, GnuTLS certtool, NSS pk12util and Java's KeyStore API. Every cell is printed
// as one line of a matrix, "MATRIX | producer form | reader | what it showed".

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <sstream>

#include "certificate/CertificateTestFolder.h"
#include "certificate/OpenSslHandles.h"
#include "certificate/ToolShell.h"
#include "support/pkcs12/Pkcs12Maker.h"

namespace kiv::certificate::testing {
namespace {

// ASCII: Java cannot open a PKCS#12 file keyed with other characters.
constexpr const char* kPassword = "Interop-Pass-7";

bool OnCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

std::string Missing(std::initializer_list<const char*> tools) {
    std::string missing;
    for (const char* tool : tools) {
        if (!Installed(tool)) missing += std::string(missing.empty() ? "" : ", ") + tool;
    }
    return missing;
}

// CI installs every tool through scripts/setup.sh, so there a missing one is a failure.
#define REQUIRE_TOOLS(...)                                                               \
    do {                                                                                 \
        const std::string missing = Missing({__VA_ARGS__});                              \
        if (!missing.empty()) {                                                          \
            if (OnCi()) FAIL() << "not installed: " << missing << " (scripts/setup.sh)"; \
            GTEST_SKIP() << "not installed: " << missing;                                \
        }                                                                                \
    } while (0)

std::size_t Count(const std::string& text, const std::string& word) {
    std::size_t count = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
    return count;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Lower-case hex without separators or white space, so fingerprints compare in any tool's layout.
std::string Squeezed(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::tolower(c));
        else if (c != ':' && !std::isspace(static_cast<unsigned char>(c)))
            out += '|';
    }
    return out;
}

X509Ptr ReadCertificate(const std::string& path) {
    FILE* in = std::fopen(path.c_str(), "r");
    if (in == nullptr) return nullptr;
    X509Ptr certificate(PEM_read_X509(in, nullptr, nullptr, nullptr));
    std::fclose(in);
    return certificate;
}

std::string Fingerprint(const X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return "?";
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0xF];
    }
    return hex;
}

// One password-less input and what it holds.
struct Input {
    std::string form;  // e.g. "openssl -legacy"
    std::string path;
    bool hasKey = true;
    std::vector<std::string> certificates;  // PEM files, the leaf first when there is a key
};

class InteropMatrixTest : public CertificateFolderTest {
  protected:
    void SetUp() override {
        CertificateFolderTest::SetUp();
        const auto rsa = kiv::testing::WritePem(folder_);
        const auto ec = kiv::testing::WritePem(folder_, true);
        ASSERT_TRUE(rsa && ec);
        rsa_ = *rsa;
        ec_ = *ec;
    }

    std::vector<std::string> Chain(const kiv::testing::PemFiles& pem) const {
        return {pem.leaf, pem.intermediate, pem.root};
    }

    void Cell(const Input& input, const std::string& reader, const std::string& shown) {
        const std::string line = "MATRIX | " + input.form + " | " + reader + " | " + shown;
        std::cout << line << std::endl;
        RecordProperty(input.form + " / " + reader, shown);
    }

    static std::string CopyOf(const Input& input) {
        return input.path.substr(0, input.path.size() - 4) + "_Password.Pfx";
    }

    // Protects every input with this program, saving with `options`, then lets every reader open
    // every copy.
    void ProtectAndReadAll(const std::vector<Input>& inputs, const SaveOptions& options = {}) {
        std::vector<std::pair<const Input*, std::string>> copies;
        for (const Input& input : inputs) {
            SCOPED_TRACE(input.form);
            const std::string copy = CopyOf(input);
            auto certificate = OpenSslCertificateFactory(options)();
            const CallResult loaded = certificate->Load(input.path, "", 1, 0);
            EXPECT_TRUE(loaded.ok) << loaded.description;
            const CallResult saved = loaded.ok ? certificate->Save(copy, kPassword, 0, 1) : loaded;
            EXPECT_TRUE(saved.ok) << saved.description;
            Cell(input, "this program", saved.ok ? "OK" : "FAILED: " + saved.description);
            if (saved.ok) copies.emplace_back(&input, copy);
        }
        for (const auto& [input, copy] : copies) {
            SCOPED_TRACE(input->form);
            if (Reader("openssl")) Cell(*input, "openssl pkcs12", OpensslReads(*input, copy));
            if (Reader("certtool")) Cell(*input, "certtool --p12-info", CerttoolReads(*input, copy));
            if (Reader("pk12util") && Reader("certutil"))
                Cell(*input, "NSS pk12util", NssReads(*input, copy));
        }
        if (Reader("java")) JavaReads(copies);
    }

    // A reader that is missing skips its column on a developer's machine and fails under CI.
    bool Reader(const char* tool) {
        if (Installed(tool)) return true;
        if (OnCi()) ADD_FAILURE() << tool << " is not installed (scripts/setup.sh installs it)";
        return false;
    }

    // openssl's listing of bags without the lines that describe the container (encryption, MAC):
    // every bag in order with its attributes, and the key and certificates as PEM.
    static std::string Bags(const std::string& listing) {
        static const char* const kContainer[] = {"MAC",        "PKCS7 ",          "Shrouded Keybag",
                                                 "Key bag",    "Certificate bag", "Safe Contents bag",
                                                 "Secret bag", "Warning"};
        std::string bags;
        for (const std::string& line : Lines(listing)) {
            if (std::none_of(std::begin(kContainer), std::end(kContainer),
                             [&](const char* prefix) { return line.rfind(prefix, 0) == 0; })) {
                bags += line + "\n";
            }
        }
        return bags;
    }

    static std::vector<std::string> FriendlyNames(const std::string& openSslListing) {
        std::vector<std::string> names;
        for (const std::string& line : Lines(openSslListing)) {
            const std::size_t at = line.find("friendlyName: ");
            if (at != std::string::npos) names.push_back(line.substr(at + 14));
        }
        return names;
    }

    std::string SourceListing(const Input& input) {
        const Outcome listed =
            Shell("openssl pkcs12 -legacy -in " + Quoted(input.path) + " -passin pass: -nodes -info");
        EXPECT_EQ(listed.status, 0) << listed.output;
        return listed.output;
    }

    std::string OpensslReads(const Input& input, const std::string& copy) {
        const Outcome opened = Shell("openssl pkcs12 -in " + Quoted(copy) +
                                     " -passin pass:" + Quoted(kPassword) + " -nodes -info");
        EXPECT_EQ(opened.status, 0) << opened.output;
        if (opened.status != 0) return "FAILED to open";
        const std::string source = SourceListing(input);
        const bool sameBags = Bags(opened.output) == Bags(source);
        EXPECT_TRUE(sameBags) << "source:\n" << Bags(source) << "copy:\n" << Bags(opened.output);

        std::vector<std::string> fingerprints;
        BioPtr bio(BIO_new_mem_buf(opened.output.data(), static_cast<int>(opened.output.size())));
        while (X509Ptr certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)})
            fingerprints.push_back(Fingerprint(certificate.get()));
        std::size_t found = 0;
        for (const std::string& pem : input.certificates) {
            const std::string expected = Fingerprint(ReadCertificate(pem).get());
            const bool present = std::count(fingerprints.begin(), fingerprints.end(), expected) == 1;
            EXPECT_TRUE(present) << pem;
            found += present ? 1 : 0;
        }
        EXPECT_EQ(fingerprints.size(), input.certificates.size());

        std::string keyText = "no key";
        if (input.hasKey) {
            BioPtr keyBio(BIO_new_mem_buf(opened.output.data(), static_cast<int>(opened.output.size())));
            EvpPkeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
            const X509Ptr leaf = ReadCertificate(input.certificates.front());
            const bool matches = key && leaf && EVP_PKEY_eq(key.get(), X509_get0_pubkey(leaf.get())) == 1;
            EXPECT_TRUE(matches) << "the key belongs to the leaf";
            keyText = matches ? "key matches leaf" : "KEY DOES NOT MATCH";
        } else {
            EXPECT_EQ(Count(opened.output, "PRIVATE KEY-----"), 0u);
        }
        const bool wrongRefused =
            Shell("openssl pkcs12 -in " + Quoted(copy) + " -passin pass:wrong -nodes").status != 0;
        const bool emptyRefused =
            Shell("openssl pkcs12 -in " + Quoted(copy) + " -passin pass: -nodes").status != 0;
        EXPECT_TRUE(wrongRefused);
        EXPECT_TRUE(emptyRefused);
        return keyText + ", " + std::to_string(found) + "/" + std::to_string(input.certificates.size()) +
               " certs by fingerprint, " + std::to_string(FriendlyNames(opened.output).size()) +
               " friendly names, " + (sameBags ? "bags and attributes as the source" : "BAGS DIFFER") +
               (wrongRefused && emptyRefused ? ", wrong+empty refused" : ", WRONG OR EMPTY OPENED");
    }

    std::string CerttoolReads(const Input& input, const std::string& copy) {
        const std::string base = "certtool --p12-info --inder --infile " + Quoted(copy) + " ";
        const Outcome opened = Shell(base + "--password=" + Quoted(kPassword));
        EXPECT_EQ(opened.status, 0) << opened.output;
        if (opened.status != 0) return "FAILED to open";
        const std::size_t certificates = Count(opened.output, "-----BEGIN CERTIFICATE-----");
        EXPECT_EQ(certificates, input.certificates.size()) << opened.output;
        const std::size_t keys = Count(opened.output, "Type: PKCS #8 Encrypted key");
        EXPECT_EQ(keys, input.hasKey ? 1u : 0u) << opened.output;
        std::size_t names = 0;
        for (const std::string& name : FriendlyNames(SourceListing(input))) {
            const bool kept = opened.output.find("Friendly name: " + name) != std::string::npos;
            EXPECT_TRUE(kept) << name;
            names += kept ? 1 : 0;
        }
        const bool refused = Shell(base + "--password=wrong").status != 0 &&
                             Shell(base + "--empty-password").status != 0 &&
                             Shell(base + "--null-password").status != 0;
        EXPECT_TRUE(refused);
        return "MAC verified, " + std::to_string(certificates) + " certs decrypted, " + std::to_string(keys) +
               " shrouded key, " + std::to_string(names) + " friendly names found" +
               (refused ? ", wrong+empty+null refused" : ", WRONG OR EMPTY OPENED");
    }

    std::string NssReads(const Input& input, const std::string& copy) {
        const std::string listDb = folder_ + "/nss-list";
        if (!std::filesystem::exists(listDb)) {
            EXPECT_EQ(Shell("mkdir " + Quoted(listDb) + " && certutil -N -d sql:" + Quoted(listDb) +
                            " --empty-password")
                          .status,
                      0);
        }
        const std::string list = "pk12util -l " + Quoted(copy) + " -d sql:" + Quoted(listDb) + " -W ";
        const Outcome listed = Shell(list + Quoted(kPassword));
        EXPECT_EQ(listed.status, 0) << listed.output;
        if (listed.status != 0) return "FAILED to list";
        const std::string squeezed = Squeezed(listed.output);
        std::size_t found = 0;
        for (const std::string& pem : input.certificates) {
            const bool present = squeezed.find(Fingerprint(ReadCertificate(pem).get())) != std::string::npos;
            EXPECT_TRUE(present) << pem;
            found += present ? 1 : 0;
        }
        EXPECT_EQ(Count(listed.output, "Key(shrouded):"), input.hasKey ? 1u : 0u) << listed.output;

        // Imported into a database of its own, the key and every certificate arrive.
        const std::string db = copy + ".nssdb";
        EXPECT_EQ(Shell("mkdir " + Quoted(db) + " && certutil -N -d sql:" + Quoted(db) + " --empty-password")
                      .status,
                  0);
        const Outcome imported =
            Shell("pk12util -i " + Quoted(copy) + " -d sql:" + Quoted(db) + " -W " + Quoted(kPassword));
        EXPECT_EQ(imported.status, 0) << imported.output;
        const Outcome certs = Shell("certutil -L -d sql:" + Quoted(db));
        std::size_t importedCertificates = 0;
        for (const std::string& line : Lines(certs.output)) {
            if (line.find_first_not_of(' ') == std::string::npos || line.find("Certificate Nickname") == 0 ||
                line.find("SSL,S/MIME,JAR/XPI") != std::string::npos)
                continue;
            ++importedCertificates;
        }
        EXPECT_EQ(importedCertificates, input.certificates.size()) << certs.output;
        const Outcome keys = Shell("certutil -K -d sql:" + Quoted(db));
        const std::size_t importedKeys = keys.status == 0 ? Count(keys.output, "<") : 0;
        EXPECT_EQ(importedKeys, input.hasKey ? 1u : 0u) << keys.output;

        const bool refused = Shell(list + "wrong").status != 0 && Shell(list + "''").status != 0;
        EXPECT_TRUE(refused);
        return "listed " + std::to_string(found) + "/" + std::to_string(input.certificates.size()) +
               " certs by fingerprint; import gave " + std::to_string(importedKeys) + " key and " +
               std::to_string(importedCertificates) + " certs" +
               (refused ? ", wrong+empty refused" : ", WRONG OR EMPTY OPENED");
    }

    // One Java run reads every copy of the test.
    void JavaReads(const std::vector<std::pair<const Input*, std::string>>& copies) {
        if (copies.empty()) return;
        std::string command = "java " + Quoted(std::string(KIV_PKCS12_JAVA_DIR) + "/ReadKeyStores.java") +
                              " " + Quoted(kPassword);
        for (const auto& entry : copies) command += " " + Quoted(entry.second);
        const Outcome read = Shell(command);
        ASSERT_EQ(read.status, 0) << read.output;
        std::map<std::string, std::string> lines;
        for (const std::string& line : Lines(read.output)) lines[line.substr(0, line.find(' '))] = line;
        for (const auto& [input, copy] : copies) {
            SCOPED_TRACE(input->form);
            const std::string line = lines[copy];
            const auto field = [&](const std::string& name) {
                const std::size_t at = line.find(" " + name + "=");
                if (at == std::string::npos) return std::string("?");
                const std::size_t start = at + name.size() + 2;
                return line.substr(start, line.find(' ', start) - start);
            };
            EXPECT_EQ(field("open"), "yes") << line;
            std::string expectedChain;
            if (input->hasKey) {
                for (const std::string& pem : input->certificates)
                    expectedChain +=
                        (expectedChain.empty() ? "" : ",") + Fingerprint(ReadCertificate(pem).get());
            }
            EXPECT_EQ(field("keys"), input->hasKey ? "1" : "0") << line;
            EXPECT_EQ(field("chain"), expectedChain) << line;
            EXPECT_EQ(field("keymatch"), "yes") << line;
            if (!input->hasKey) {
                EXPECT_EQ(field("trusted"), std::to_string(input->certificates.size())) << line;
            }
            EXPECT_EQ(field("wrong"), "refused") << line;
            EXPECT_EQ(field("empty"), "refused") << line;
            const std::size_t chain = expectedChain.empty() ? 0 : Count(field("chain"), ",") + 1;
            Cell(*input, "Java KeyStore",
                 field("open") != "yes"
                     ? "FAILED to open"
                     : (input->hasKey ? "key entry recovered, key matches leaf: " + field("keymatch") +
                                            ", chain of " + std::to_string(chain) + " in order"
                                      : field("trusted") + " trusted certificate entries") +
                           ", wrong " + field("wrong") + ", empty " + field("empty"));
        }
    }

    kiv::testing::PemFiles rsa_;
    kiv::testing::PemFiles ec_;
};

TEST_F(InteropMatrixTest, OpensslCommandLine) {
    REQUIRE_TOOLS("openssl");
    struct Form {
        const char* name;
        const char* options;
        bool ec;
    };
    const Form forms[] = {
        {"default", "", false},
        {"legacy", "-legacy", false},
        {"nomac", "-nomac", false},
        {"plain", "-keypbe NONE -certpbe NONE", false},
        {"plain-nomac", "-keypbe NONE -certpbe NONE -nomac", false},
        {"3des-sha1mac", "-keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1", false},
        {"names", "-name 'Kiv Leaf' -caname 'Kiv Intermediate' -caname 'Kiv Root'", false},
        {"ec", "-name 'EC Leaf'", true},
    };
    std::vector<Input> inputs;
    for (const Form& form : forms) {
        const kiv::testing::PemFiles& pem = form.ec ? ec_ : rsa_;
        Input input{std::string("openssl ") + form.name, Path(std::string("openssl-") + form.name + ".pfx"),
                    true, Chain(pem)};
        const Outcome made = Shell("openssl pkcs12 -export -inkey " + Quoted(pem.key) + " -in " +
                                   Quoted(pem.leaf) + " -certfile " + Quoted(pem.chain) +
                                   " -passout pass: " + form.options + " -out " + Quoted(input.path));
        ASSERT_EQ(made.status, 0) << form.name << ": " << made.output;
        inputs.push_back(input);
    }
    ProtectAndReadAll(inputs);
}

TEST_F(InteropMatrixTest, GnutlsCerttool) {
    REQUIRE_TOOLS("certtool");
    struct Form {
        const char* name;
        const char* options;
        bool ec;
    };
    const Form forms[] = {
        {"empty-password", "--empty-password", false},
        {"null-password", "--null-password", false},
        {"3des", "--empty-password --pkcs-cipher 3des-pkcs12", false},
        {"rc2-40", "--empty-password --pkcs-cipher rc2-40", false},
        {"ec", "--empty-password", true},
    };
    std::vector<Input> inputs;
    for (const Form& form : forms) {
        const kiv::testing::PemFiles& pem = form.ec ? ec_ : rsa_;
        Input input{std::string("certtool ") + form.name, Path(std::string("certtool-") + form.name + ".pfx"),
                    true, Chain(pem)};
        const std::string certificates = Path(std::string("certtool-") + form.name + "-certs.pem");
        const Outcome made =
            Shell("cat " + Quoted(pem.leaf) + " " + Quoted(pem.chain) + " > " + Quoted(certificates) +
                  " && certtool --to-p12 --load-privkey " + Quoted(pem.key) + " --load-certificate " +
                  Quoted(certificates) + " --p12-name 'Kiv Leaf' --outder --outfile " + Quoted(input.path) +
                  " " + form.options);
        ASSERT_EQ(made.status, 0) << form.name << ": " << made.output;
        inputs.push_back(input);
    }
    ProtectAndReadAll(inputs);
}

TEST_F(InteropMatrixTest, NssPk12util) {
    REQUIRE_TOOLS("openssl", "certutil", "pk12util");
    // The key and chain enter a scratch database the way a browser's would, then leave it as export.
    const std::string db = Path("nss-source");
    const std::string imported = Path("nss-import.p12");
    const Outcome made =
        Shell("mkdir " + Quoted(db) + " && certutil -N -d sql:" + Quoted(db) +
              " --empty-password && openssl pkcs12 -export -inkey " + Quoted(rsa_.key) + " -in " +
              Quoted(rsa_.leaf) + " -certfile " + Quoted(rsa_.chain) +
              " -name 'Kiv Leaf' -caname 'Kiv Intermediate' -caname 'Kiv Root' -passout pass: -out " +
              Quoted(imported) + " && pk12util -i " + Quoted(imported) + " -d sql:" + Quoted(db) + " -W ''");
    ASSERT_EQ(made.status, 0) << made.output;
    struct Form {
        const char* name;
        const char* options;
    };
    const Form forms[] = {
        {"default", ""},
        {"legacy",
         "-c 'PKCS #12 V2 PBE With SHA-1 And 3KEY Triple DES-CBC' "
         "-C 'PKCS #12 V2 PBE With SHA-1 And 40 Bit RC2 CBC'"},
    };
    std::vector<Input> inputs;
    for (const Form& form : forms) {
        Input input{std::string("pk12util ") + form.name, Path(std::string("nss-") + form.name + ".pfx"),
                    true, Chain(rsa_)};
        const Outcome exported = Shell("pk12util -o " + Quoted(input.path) +
                                       " -n 'Kiv Leaf' -d sql:" + Quoted(db) + " -W '' " + form.options);
        ASSERT_EQ(exported.status, 0) << form.name << ": " << exported.output;
        inputs.push_back(input);
    }
    ProtectAndReadAll(inputs);
}

TEST_F(InteropMatrixTest, JavaKeyStore) {
    REQUIRE_TOOLS("java", "keytool");
    const Outcome made = Shell("java " + Quoted(std::string(KIV_PKCS12_JAVA_DIR) + "/MakeKeyStores.java") +
                               " " + Quoted(folder_) + " " + Quoted(rsa_.key) + " " + Quoted(rsa_.leaf) +
                               " " + Quoted(rsa_.intermediate) + " " + Quoted(rsa_.root));
    ASSERT_EQ(made.status, 0) << made.output;
    std::vector<Input> inputs;
    for (const char* form : {"default", "nomac", "plaincerts"})
        inputs.push_back(
            {std::string("java ") + form, Path(std::string("java-") + form + ".p12"), true, Chain(rsa_)});

    // keytool's password-less form holds trusted certificates only.
    Input trusted{"keytool NONE/NONE", Path("keytool.p12"), false, {rsa_.intermediate, rsa_.root}};
    for (const auto& [alias, pem] :
         {std::pair{"intermediate", rsa_.intermediate}, std::pair{"root", rsa_.root}}) {
        const Outcome imported =
            Shell(std::string("keytool -J-Dkeystore.pkcs12.certProtectionAlgorithm=NONE "
                              "-J-Dkeystore.pkcs12.macAlgorithm=NONE -importcert -noprompt -storetype PKCS12 "
                              "-storepass changeit -alias ") +
                  alias + " -file " + Quoted(pem) + " -keystore " + Quoted(trusted.path));
        ASSERT_EQ(imported.status, 0) << imported.output;
    }
    inputs.push_back(trusted);
    ProtectAndReadAll(inputs);
}

// The copies for older systems (3DES, HMAC-SHA1) and a copy with its own iteration count, from an
// RSA and an EC source.
TEST_F(InteropMatrixTest, CompatibleAndIterationCopies) {
    REQUIRE_TOOLS("openssl");
    struct Form {
        const char* name;
        bool ec;
        bool compat;
        int iterations;
        const char* expected;  // in openssl's listing of the copy
    };
    const Form forms[] = {
        {"--compat", false, true, 10000, "pbeWithSHA1And3-KeyTripleDES-CBC, Iteration 10000"},
        {"--compat ec", true, true, 10000, "pbeWithSHA1And3-KeyTripleDES-CBC, Iteration 10000"},
        {"--compat --iterations 2048", false, true, 2048, "pbeWithSHA1And3-KeyTripleDES-CBC, Iteration 2048"},
        {"--iterations 25000", false, false, 25000, "AES-256-CBC, Iteration 25000"},
    };
    for (const Form& form : forms) {
        SCOPED_TRACE(form.name);
        const kiv::testing::PemFiles& pem = form.ec ? ec_ : rsa_;
        std::string file = form.name;
        std::replace_if(
            file.begin(), file.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
            '-');
        Input input{std::string("openssl default, copy ") + form.name, Path("compat" + file + ".pfx"), true,
                    Chain(pem)};
        const Outcome made = Shell("openssl pkcs12 -export -inkey " + Quoted(pem.key) + " -in " +
                                   Quoted(pem.leaf) + " -certfile " + Quoted(pem.chain) +
                                   " -name 'Kiv Leaf' -passout pass: -out " + Quoted(input.path));
        ASSERT_EQ(made.status, 0) << made.output;
        SaveOptions options;
        if (form.compat) options.algorithms = SaveOptions::Algorithms::TripleDesSha1;
        options.iterations = form.iterations;
        ProtectAndReadAll({input}, options);

        const Outcome listed = Shell("openssl pkcs12 -in " + Quoted(CopyOf(input)) +
                                     " -passin pass:" + Quoted(kPassword) + " -noout -info");
        EXPECT_EQ(Count(listed.output, form.expected), 2u) << listed.output;  // the key and the certificates
        const std::string mac = std::string("MAC: ") + (form.compat ? "sha1" : "sha256") + ", Iteration " +
                                std::to_string(form.iterations);
        EXPECT_NE(listed.output.find(mac), std::string::npos) << listed.output;
    }
}

}  // namespace
}  // namespace kiv::certificate::testing
