// The certificate object over OpenSSL: reads the source file from disk and ties the reader, the
// copy encoder, the check of the written file and the file writer together.

#include <sys/types.h>

#include <climits>
#include <cstring>
#include <new>

#include "certificate/Certificate.h"
#include "certificate/FileFormat.h"
#include "certificate/OpenSslErrors.h"
#include "certificate/OpenSslHandles.h"
#include "certificate/Pkcs12Bags.h"
#include "certificate/WorkLimits.h"
#include "filesystem/NewFileWriter.h"
#include "filesystem/PathText.h"
#include "filesystem/SourceFile.h"

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

}  // namespace

ReadResult ReadSourcePkcs12(filesystem::FileSystem& files, const std::string& path,
                            const std::vector<Pkcs12Password>& passwords, filesystem::SourceFile& file,
                            Secret& bytes, Pkcs12Contents& contents) {
    const filesystem::SourceRead read = filesystem::ReadSourceFile(files, path, file, bytes);
    if (!read.ok()) return {ReadFailure::Unreadable, read.description};
    ReadResult result = ReadPkcs12(bytes.data(), bytes.size(), passwords, contents);
    OpenSslErrors::Clear();
    if (result.failure == ReadFailure::NotPkcs12 && LooksLikePem(bytes))
        result.description = "The file holds PEM text, not a PKCS#12 file.";
    return result;
}

namespace {

static_assert(kMostSaveIterations == kIterationCeiling, "a copy must stay within what the check can open");

class OpenSslCertificate final : public Certificate {
  public:
    OpenSslCertificate(const SaveOptions& options, filesystem::FileSystem& files)
        : options_(options), files_(files) {}

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

    CallResult CheckSave(int saveType, int includeOption) override {
        try {
            const CallResult refused = Refusal(saveType, includeOption);
            return refused.ok ? CopyRefusal(contents_, options_) : refused;
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
        filesystem::SourceFile file;
        Secret bytes;
        const filesystem::SourceRead read = filesystem::ReadSourceFile(files_, path, file, bytes, false);
        if (!read.ok()) return CallResult::Failure(read.description);
        Pkcs12Contents copy;
        const ReadResult result = ReadPkcs12(bytes.data(), bytes.size(),
                                             {{password.data(), static_cast<int>(password.size())}}, copy);
        OpenSslErrors::Clear();
        if (!result.ok()) return CallResult::Failure(result.description);
        // A copy written before keys were paired with their certificates holds the source as it was.
        PairKeysWithCertificates(copy);
        if (!SameContents(contents_, copy))
            return CallResult::Failure("It holds other keys or certificates than the source.");
        // A copy in the other format does not open where this run's copies are meant to go.
        const FileFormat format = FormatOf({bytes.data(), bytes.size()});
        if (format.algorithms != options_.algorithms) {
            return CallResult::Failure("It is protected with " + format.description + ", not as " +
                                       FormatName(options_.algorithms) + " copies are.");
        }
        return CallResult::Success();
    }

    CallResult DoLoad(const std::string& path, const std::string& password) {
        loaded_ = false;
        contents_.items.clear();
        OpenSslErrors::Clear();
        LegacyProviderAvailable();
        if (password.size() > INT_MAX) return CallResult::Failure(kWrongPasswordText);

        std::vector<Pkcs12Password> passwords;
        if (password.empty()) {
            passwords = PasswordLess();
        } else {
            passwords = {{password.data(), static_cast<int>(password.size())}};
        }
        filesystem::SourceFile source;
        Secret bytes;
        Pkcs12Contents contents;
        const ReadResult result = ReadSourcePkcs12(files_, path, passwords, source, bytes, contents);
        if (!result.ok()) return CallResult::Failure(result.description);
        if (contents.CertificateCount() == 0) return CallResult::Failure("The file holds no certificate.");
        PairKeysWithCertificates(contents);
        contents_ = std::move(contents);
        sourceMode_ = source.mode;
        sourceGroup_ = source.group;
        loaded_ = true;
        return CallResult::Success();
    }

    // What Save refuses whatever the password and the contents.
    CallResult Refusal(int saveType, int includeOption) const {
        if (!loaded_) return CallResult::Failure("No certificate has been loaded.");
        if (saveType != 0) return CallResult::Failure("Only the PKCS#12 save type (0) is supported.");
        if (includeOption != 1)
            return CallResult::Failure("Only the whole certificate chain (include option 1) can be saved.");
        return CallResult::Success();
    }

    CallResult DoSave(const std::string& path, const std::string& password, int saveType, int includeOption) {
        OpenSslErrors::Clear();
        if (CallResult refused = Refusal(saveType, includeOption); !refused.ok) return refused;
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
            return CheckWrittenPkcs12(written, key, keys, contents_, options_.algorithms).description;
        };
        filesystem::NewFileOptions options;
        options.group = sourceGroup_;
        const filesystem::WriteResult written =
            filesystem::WriteNewFile(files_, path, der, sourceMode_, sameAsSource, options);
        OpenSslErrors::Clear();
        return {written.ok, written.description, written.targetExists};
    }

    SaveOptions options_;
    filesystem::FileSystem& files_;
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

const char* FormatName(SaveOptions::Algorithms algorithms) {
    return algorithms == SaveOptions::Algorithms::TripleDesSha1 ? "3DES" : "AES-256";
}

CertificateFactory OpenSslCertificateFactory(SaveOptions options) {
    return [options](filesystem::FileSystem& files) -> std::unique_ptr<Certificate> {
        try {
            return std::make_unique<OpenSslCertificate>(options, files);
        } catch (...) {
            return nullptr;
        }
    };
}

}  // namespace kiv::certificate
