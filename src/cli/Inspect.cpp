#include "cli/Inspect.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>

#include "cli/FindFiles.h"
#include "cli/Interrupt.h"
#include "cli/Text.h"
#include "platform/certificate/OpenSslErrors.h"
#include "platform/certificate/OpenSslHandles.h"

namespace kiv::cli {
namespace {

using certificate::BioPtr;
using certificate::EvpPkeyPtr;
using certificate::Pkcs12Ptr;
using certificate::Pkcs7StackPtr;
using certificate::Pkcs8Ptr;
using certificate::SafeBagStackPtr;
using certificate::X509Ptr;

constexpr off_t kLargestFile = 4 * 1024 * 1024;
constexpr int kMaxNesting = 4;

struct Password {
    const char* data;
    int length;
};
// A password-less file is keyed with the empty password or with none at all.
constexpr Password kPasswordLess[] = {{"", 0}, {nullptr, 0}};

std::string SystemMessage(int error) {
    return std::error_code(error, std::generic_category()).message();
}

Inspection Unreadable(std::string detail) {
    Inspection result;
    result.kind = Inspection::Kind::Unreadable;
    result.detail = std::move(detail);
    return result;
}

Inspection OfKind(Inspection::Kind kind) {
    Inspection result;
    result.kind = kind;
    return result;
}

std::string OpenSslReason() {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0) return "unknown reason";
    const char* reason = ERR_reason_error_string(code);
    return reason != nullptr ? reason : "unknown reason";
}

std::string FriendlyName(PKCS12_SAFEBAG* bag) {
    char* name = PKCS12_get_friendlyname(bag);
    if (name == nullptr) return {};
    std::string text = name;
    OPENSSL_free(name);
    return text;
}

std::string NameText(const X509_NAME* name) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) return {};
    // RFC 2253 order and escaping, with non-ASCII characters kept as UTF-8.
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) return "unknown";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

std::string KeyAlgorithm(EVP_PKEY* key) {
    const char* type = EVP_PKEY_get0_type_name(key);
    std::string text = type != nullptr ? type : "unknown";
    char group[80] = {};
    std::size_t groupLength = 0;
    if (EVP_PKEY_get_group_name(key, group, sizeof group, &groupLength) == 1 && groupLength > 0) {
        text += std::string(" ") + group;
    }
    const int bits = EVP_PKEY_get_bits(key);
    if (bits > 0) text += " " + std::to_string(bits) + " bits";
    ERR_clear_error();
    return text;
}

class Reader {
  public:
    explicit Reader(Inspection& result) : result_(result) {}

    // False when a part is keyed with a password other than the empty one; `failure` then tells
    // whether it was an algorithm that could not be used.
    bool Bags(const STACK_OF(PKCS12_SAFEBAG) * bags, int depth) {
        for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
            PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
            switch (PKCS12_SAFEBAG_get_nid(bag)) {
                case NID_keyBag:
                    AddKey(bag, PKCS12_SAFEBAG_get0_p8inf(bag));
                    break;
                case NID_pkcs8ShroudedKeyBag: {
                    Pkcs8Ptr info;
                    for (const Password& password : kPasswordLess) {
                        info.reset(PKCS12_decrypt_skey(bag, password.data, password.length));
                        if (info) break;
                    }
                    if (!info) return false;
                    AddKey(bag, info.get());
                    break;
                }
                case NID_certBag: {
                    if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate) break;
                    const X509Ptr owned(PKCS12_SAFEBAG_get1_cert(bag));
                    X509* certificate = owned.get();
                    if (certificate == nullptr) break;
                    InspectedCertificate entry;
                    entry.subject = NameText(X509_get_subject_name(certificate));
                    entry.issuer = NameText(X509_get_issuer_name(certificate));
                    entry.notAfter = TimeText(X509_get0_notAfter(certificate));
                    entry.expired = X509_cmp_current_time(X509_get0_notAfter(certificate)) < 0;
                    entry.friendlyName = FriendlyName(bag);
                    result_.certificates.push_back(std::move(entry));
                    break;
                }
                case NID_safeContentsBag:
                    if (depth < kMaxNesting && !Bags(PKCS12_SAFEBAG_get0_safes(bag), depth + 1)) return false;
                    break;
                default:
                    break;
            }
        }
        ERR_clear_error();
        return true;
    }

  private:
    void AddKey(PKCS12_SAFEBAG* bag, const PKCS8_PRIV_KEY_INFO* info) {
        InspectedKey entry;
        entry.friendlyName = FriendlyName(bag);
        const EvpPkeyPtr key(info != nullptr ? EVP_PKCS82PKEY(info) : nullptr);
        entry.algorithm = key ? KeyAlgorithm(key.get()) : "damaged key";
        result_.keys.push_back(std::move(entry));
    }

    Inspection& result_;
};

bool ReadWhole(const std::string& path, std::vector<unsigned char>& bytes, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        problem = errno == ENOENT ? "no such file" : SystemMessage(errno);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        problem = SystemMessage(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        problem = "not a regular file";
        return false;
    }
    if (st.st_size > kLargestFile) {
        bytes.clear();
        return true;  // far too big for a PKCS#12 file
    }
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            problem = SystemMessage(errno);
            return false;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return true;
}

const char* KindWord(Inspection::Kind kind) {
    switch (kind) {
        case Inspection::Kind::PasswordLess:
            return "password-less";
        case Inspection::Kind::Protected:
            return "protected";
        case Inspection::Kind::NotPkcs12:
            return "not-pkcs12";
        case Inspection::Kind::Unreadable:
            return "unreadable";
    }
    return "unreadable";
}

void PrintText(const std::string& path, const Inspection& inspection, std::FILE* out) {
    switch (inspection.kind) {
        case Inspection::Kind::Protected:
            std::fprintf(out, "%s: protected by a password\n", path.c_str());
            return;
        case Inspection::Kind::NotPkcs12:
            std::fprintf(out, "%s: not a PKCS#12 file\n", path.c_str());
            return;
        case Inspection::Kind::Unreadable:
            std::fprintf(out, "%s: cannot be read: %s\n", path.c_str(), inspection.detail.c_str());
            return;
        case Inspection::Kind::PasswordLess:
            break;
    }
    std::fprintf(out, "%s: password-less PKCS#12 file, %zu key%s, %zu certificate%s\n", path.c_str(),
                 inspection.keys.size(), inspection.keys.size() == 1 ? "" : "s",
                 inspection.certificates.size(), inspection.certificates.size() == 1 ? "" : "s");
    for (const InspectedKey& key : inspection.keys) {
        std::fprintf(out, "  key: %s\n", key.algorithm.c_str());
        if (!key.friendlyName.empty()) std::fprintf(out, "    friendly name: %s\n", key.friendlyName.c_str());
    }
    for (const InspectedCertificate& certificate : inspection.certificates) {
        std::fprintf(out, "  certificate: %s\n", certificate.subject.c_str());
        std::fprintf(out, "    issuer: %s\n", certificate.issuer.c_str());
        std::fprintf(out, "    expires: %s%s\n", certificate.notAfter.c_str(),
                     certificate.expired ? " (expired)" : "");
        if (!certificate.friendlyName.empty())
            std::fprintf(out, "    friendly name: %s\n", certificate.friendlyName.c_str());
    }
}

void PrintJson(const std::string& path, const Inspection& inspection, bool first, std::FILE* out) {
    std::fprintf(out, "%s\n  {\"path\": %s, \"kind\": \"%s\"", first ? "" : ",", JsonString(path).c_str(),
                 KindWord(inspection.kind));
    if (inspection.kind == Inspection::Kind::Unreadable)
        std::fprintf(out, ", \"detail\": %s", JsonString(inspection.detail).c_str());
    if (inspection.kind == Inspection::Kind::PasswordLess) {
        std::fprintf(out, ", \"keys\": [");
        for (std::size_t i = 0; i < inspection.keys.size(); ++i) {
            std::fprintf(out, "%s{\"algorithm\": %s, \"friendlyName\": %s}", i ? ", " : "",
                         JsonString(inspection.keys[i].algorithm).c_str(),
                         JsonString(inspection.keys[i].friendlyName).c_str());
        }
        std::fprintf(out, "], \"certificates\": [");
        for (std::size_t i = 0; i < inspection.certificates.size(); ++i) {
            const InspectedCertificate& c = inspection.certificates[i];
            std::fprintf(out,
                         "%s{\"subject\": %s, \"issuer\": %s, \"notAfter\": %s, \"expired\": %s, "
                         "\"friendlyName\": %s}",
                         i ? ", " : "", JsonString(c.subject).c_str(), JsonString(c.issuer).c_str(),
                         JsonString(c.notAfter).c_str(), c.expired ? "true" : "false",
                         JsonString(c.friendlyName).c_str());
        }
        std::fprintf(out, "]");
    }
    std::fprintf(out, "}");
}

}  // namespace

Inspection InspectFile(const std::string& path) {
    ERR_clear_error();
    certificate::LegacyProviderAvailable();
    std::vector<unsigned char> bytes;
    std::string problem;
    if (!ReadWhole(path, bytes, problem)) return Unreadable(problem);
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(LONG_MAX))
        return OfKind(Inspection::Kind::NotPkcs12);
    const unsigned char* in = bytes.data();
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &in, static_cast<long>(bytes.size())));
    if (!p12) {
        ERR_clear_error();
        return OfKind(Inspection::Kind::NotPkcs12);
    }
    const bool mac = PKCS12_mac_present(p12.get()) == 1;
    if (mac) {
        bool verified = false;
        for (const Password& password : kPasswordLess) {
            ERR_clear_error();
            if (PKCS12_verify_mac(p12.get(), password.data, password.length) == 1) {
                verified = true;
                break;
            }
            // A plain mismatch leaves no error behind; anything else means it could not be computed.
            if (ERR_peek_error() != 0)
                return Unreadable("its integrity check cannot be computed: " + OpenSslReason());
        }
        if (!verified) return OfKind(Inspection::Kind::Protected);
    }

    Inspection result = OfKind(Inspection::Kind::PasswordLess);
    const Pkcs7StackPtr safes(PKCS12_unpack_authsafes(p12.get()));
    if (!safes) return Unreadable("its contents are damaged or use public-key protection");
    Reader reader(result);
    bool opened = true;
    for (int i = 0; i < sk_PKCS7_num(safes.get()) && opened; ++i) {
        PKCS7* safe = sk_PKCS7_value(safes.get(), i);
        SafeBagStackPtr bags;
        const int type = OBJ_obj2nid(safe->type);
        if (type == NID_pkcs7_data) {
            bags.reset(PKCS12_unpack_p7data(safe));
        } else if (type == NID_pkcs7_encrypted) {
            for (const Password& password : kPasswordLess) {
                bags.reset(PKCS12_unpack_p7encdata(safe, password.data, password.length));
                if (bags) break;
            }
        }
        opened = bags && reader.Bags(bags.get(), 0);
    }
    if (!opened) {
        // The MAC opened with the empty password, so a part that does not is no password matter.
        if (mac) return Unreadable("a part of it cannot be decrypted: " + OpenSslReason());
        return OfKind(Inspection::Kind::Protected);
    }
    ERR_clear_error();
    return result;
}

int RunInspect(const std::vector<std::string>& paths, bool json, std::FILE* out, std::FILE* err) {
    FoundFiles found;
    {
        const auto files = filesystem::CreateLocalFileSystem();
        found = FindFiles(paths, *files, true);
    }
    if (found.interrupted) return InterruptExitStatus(InterruptSignal());
    if (found.files.empty()) std::fprintf(err, "kivpfx: no .pfx files found\n");
    int status = 0;
    if (json) std::fprintf(out, "{\n\"command\": \"inspect\",\n\"files\": [");
    bool first = true;
    for (const std::string& path : found.files) {
        if (InterruptSignal() != 0) break;
        const Inspection inspection = InspectFile(path);
        if (inspection.kind == Inspection::Kind::Unreadable) status = 1;
        if (json) {
            PrintJson(path, inspection, first, out);
        } else {
            PrintText(path, inspection, out);
        }
        first = false;
    }
    if (json) std::fprintf(out, "\n]\n}\n");
    std::fflush(out);
    if (InterruptSignal() != 0) return InterruptExitStatus(InterruptSignal());
    return status;
}

}  // namespace kiv::cli
