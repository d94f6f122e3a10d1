// The certificate object over OpenSSL: reads the source file from disk and ties the reader, the
// copy encoder, the check of the written file and the file writer together.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <system_error>

#include "platform/certificate/Certificate.h"
#include "platform/certificate/NewFileWriter.h"
#include "platform/certificate/OpenSslErrors.h"
#include "platform/certificate/OpenSslHandles.h"
#include "platform/certificate/Pkcs12Bags.h"
#include "platform/certificate/WorkLimits.h"

namespace kiv::certificate {
namespace {

// Real PKCS#12 files are a few kilobytes; anything this big is not one and is not read whole.
constexpr off_t kLargestSource = 4 * 1024 * 1024;

std::string SystemMessage(int error) {
    return std::error_code(error, std::generic_category()).message();
}

bool ValidUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        const unsigned char lead = *p++;
        if (lead < 0x80) continue;
        int more = 0;
        unsigned long code = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (end - p < more) return false;
        for (int i = 0; i < more; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i] & 0x3F);
        }
        p += more;
        if ((more == 2 && code < 0x800) || (more == 3 && code < 0x10000) || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
    }
    return true;
}

bool LooksLikePem(const SecureBytes& bytes) {
    static constexpr char kMarker[] = "-----BEGIN ";
    std::size_t i = 0;
    if (bytes.size() >= 3 && bytes.data()[0] == 0xEF && bytes.data()[1] == 0xBB && bytes.data()[2] == 0xBF)
        i = 3;
    while (i < bytes.size() && (bytes.data()[i] == ' ' || bytes.data()[i] == '\t' ||
                                bytes.data()[i] == '\r' || bytes.data()[i] == '\n')) {
        ++i;
    }
    const std::size_t markerLength = sizeof kMarker - 1;
    return bytes.size() - i >= markerLength && std::memcmp(bytes.data() + i, kMarker, markerLength) == 0;
}

CallResult ReadSource(const std::string& path, SecureBytes& bytes, mode_t& mode, gid_t& group,
                      bool followLinks = true) {
    // O_NONBLOCK: a FIFO or device under a .pfx name must not stall the run.
    const int fd =
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) return CallResult::Failure("The file does not exist.");
        if (error == ELOOP && !followLinks) return CallResult::Failure("The path is a symbolic link.");
        return CallResult::Failure("The file cannot be opened: " + SystemMessage(error) + ".");
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return CallResult::Failure("The file cannot be examined: " + SystemMessage(errno) + ".");
    if (S_ISDIR(st.st_mode)) return CallResult::Failure("The path names a folder, not a file.");
    if (!S_ISREG(st.st_mode)) return CallResult::Failure("The path does not name a regular file.");
    if (st.st_size == 0) return CallResult::Failure("The file is empty.");
    if (st.st_size > kLargestSource) {
        return CallResult::Failure("The file is too large to be a PKCS#12 file (" +
                                   std::to_string(st.st_size) + " bytes).");
    }
    // One byte of room tells a file that grew since fstat.
    bytes.Resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return CallResult::Failure("The file cannot be read: " + SystemMessage(errno) + ".");
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done > static_cast<std::size_t>(st.st_size))
        return CallResult::Failure("The file changed while it was read.");
    bytes.Resize(done);
    if (done == 0) return CallResult::Failure("The file is empty.");
    // The copy is never wider than the source, and never executable; the writer narrows it by the umask.
    mode = st.st_mode & 0666;
    group = st.st_gid;
    return CallResult::Success();
}

static_assert(kMostSaveIterations == kIterationCeiling, "a copy must stay within what the check can open");

class OpenSslCertificate final : public Certificate {
  public:
    explicit OpenSslCertificate(const SaveOptions& options) : options_(options) {}

    CallResult Load(const std::string& path, const std::string& password, int, int) override {
        try {
            return DoLoad(path, password);
        } catch (const std::bad_alloc&) {
            contents_.items.clear();
            loaded_ = false;
            return CallResult::Failure("Out of memory.");
        } catch (...) {
            contents_.items.clear();
            loaded_ = false;
            return CallResult::Failure("The file could not be loaded.");
        }
    }

    CallResult Save(const std::string& path, const std::string& password, int saveType,
                    int includeOption) override {
        try {
            return DoSave(path, password, saveType, includeOption);
        } catch (const std::bad_alloc&) {
            return CallResult::Failure("Out of memory.");
        } catch (...) {
            return CallResult::Failure("The file could not be saved.");
        }
    }

    CallResult IsCopyAt(const std::string& path, const std::string& password) override {
        try {
            return DoIsCopyAt(path, password);
        } catch (const std::bad_alloc&) {
            return CallResult::Failure("Out of memory.");
        } catch (...) {
            return CallResult::Failure("The file could not be compared.");
        }
    }

  private:
    CallResult DoIsCopyAt(const std::string& path, const std::string& password) {
        OpenSslErrors::Clear();
        if (!loaded_) return CallResult::Failure("No certificate has been loaded.");
        if (password.empty() || password.size() > INT_MAX) return CallResult::Failure(kWrongPasswordText);
        SecureBytes bytes;
        mode_t mode = 0;
        gid_t group = static_cast<gid_t>(-1);
        CallResult read = ReadSource(path, bytes, mode, group, false);
        if (!read.ok) return read;
        Pkcs12Contents copy;
        const ReadResult result = ReadPkcs12(bytes.data(), bytes.size(),
                                             {{password.data(), static_cast<int>(password.size())}}, copy);
        OpenSslErrors::Clear();
        if (!result.ok()) return CallResult::Failure(result.description);
        if (!SameContents(contents_, copy))
            return CallResult::Failure("It holds other keys or certificates than the source.");
        return CallResult::Success();
    }

    CallResult DoLoad(const std::string& path, const std::string& password) {
        loaded_ = false;
        contents_.items.clear();
        OpenSslErrors::Clear();
        LegacyProviderAvailable();
        if (password.size() > INT_MAX) return CallResult::Failure(kWrongPasswordText);

        SecureBytes bytes;
        mode_t mode = 0;
        gid_t group = static_cast<gid_t>(-1);
        CallResult read = ReadSource(path, bytes, mode, group);
        if (!read.ok) return read;

        // Password-less files are keyed either with the empty password or with none at all.
        std::vector<Pkcs12Password> passwords;
        if (password.empty()) {
            passwords = {{"", 0}, {nullptr, 0}};
        } else {
            passwords = {{password.data(), static_cast<int>(password.size())}};
        }
        Pkcs12Contents contents;
        const ReadResult result = ReadPkcs12(bytes.data(), bytes.size(), passwords, contents);
        OpenSslErrors::Clear();
        if (!result.ok()) {
            if (result.failure == ReadFailure::NotPkcs12 && LooksLikePem(bytes)) {
                return CallResult::Failure("The file holds PEM text, not a PKCS#12 file.");
            }
            return CallResult::Failure(result.description);
        }
        if (contents.CertificateCount() == 0) return CallResult::Failure("The file holds no certificate.");
        contents_ = std::move(contents);
        sourceMode_ = mode;
        sourceGroup_ = group;
        loaded_ = true;
        return CallResult::Success();
    }

    CallResult DoSave(const std::string& path, const std::string& password, int saveType, int includeOption) {
        OpenSslErrors::Clear();
        if (!loaded_) return CallResult::Failure("No certificate has been loaded.");
        if (saveType != 0) return CallResult::Failure("Only the PKCS#12 save type (0) is supported.");
        if (includeOption != 1)
            return CallResult::Failure("Only the whole certificate chain (include option 1) can be saved.");
        if (password.size() > INT_MAX) return CallResult::Failure("The password is too long.");
        if (!ValidUtf8(password)) return CallResult::Failure("The password is not valid UTF-8 text.");

        const Pkcs12Password key{password.data(), static_cast<int>(password.size())};
        // Writing and the check of the written file share the keys; wiped when this returns.
        DerivedKeys keys;
        std::vector<unsigned char> der;
        CallResult encoded = EncodePkcs12(contents_, key, options_, keys, der);
        if (!encoded.ok) return encoded;

        const auto sameAsSource = [&](std::span<const unsigned char> written) {
            return CheckWrittenPkcs12(written, key, keys, contents_);
        };
        NewFileOptions options;
        options.group = sourceGroup_;
        CallResult written = WriteNewFile(path, der, sourceMode_, sameAsSource, options);
        OpenSslErrors::Clear();
        return written;
    }

    SaveOptions options_;
    Pkcs12Contents contents_;  // its keys are wiped when freed
    mode_t sourceMode_ = 0600;
    gid_t sourceGroup_ = static_cast<gid_t>(-1);
    bool loaded_ = false;
};

}  // namespace

std::string SaveOptionsProblem(const SaveOptions& options) {
    if (options.algorithms != SaveOptions::Algorithms::Aes256 &&
        options.algorithms != SaveOptions::Algorithms::TripleDesSha1)
        return "unknown algorithms";
    if (options.iterations < kFewestSaveIterations || options.iterations > kMostSaveIterations) {
        return "the iteration count must be from " + Grouped(kFewestSaveIterations) + " to " +
               Grouped(kMostSaveIterations);
    }
    return {};
}

CertificateFactory OpenSslCertificateFactory(SaveOptions options) {
    return [options]() -> std::unique_ptr<Certificate> {
        try {
            return std::make_unique<OpenSslCertificate>(options);
        } catch (...) {
            return nullptr;
        }
    };
}

}  // namespace kiv::certificate
