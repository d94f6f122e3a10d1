// The certificate object over OpenSSL: reads the source file from disk and ties the reader, the
// copy encoder, the check of the written file and the file writer together.

#include <sys/types.h>

#include <climits>
#include <cstring>
#include <new>

#include "certificate/Certificate.h"
#include "certificate/NewFileWriter.h"
#include "certificate/OpenSslErrors.h"
#include "certificate/OpenSslHandles.h"
#include "certificate/Pkcs12Bags.h"
#include "certificate/SourceFile.h"
#include "certificate/WorkLimits.h"
#include "filesystem/PathText.h"

namespace kiv::certificate {
namespace {

bool LooksLikePem(const Secret& bytes) {
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
        SourceFile file;
        const SourceRead read = ReadSourceFile(path, file, false);
        if (!read.ok()) return CallResult::Failure(read.description);
        Pkcs12Contents copy;
        const ReadResult result = ReadPkcs12(file.bytes.data(), file.bytes.size(),
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

        SourceFile source;
        const SourceRead read = ReadSourceFile(path, source);
        if (!read.ok()) return CallResult::Failure(read.description);
        const Secret& bytes = source.bytes;

        std::vector<Pkcs12Password> passwords;
        if (password.empty()) {
            passwords = PasswordLess();
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
        sourceMode_ = source.mode;
        sourceGroup_ = source.group;
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
        if (!filesystem::IsValidUtf8(password))
            return CallResult::Failure("The password is not valid UTF-8 text.");

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
