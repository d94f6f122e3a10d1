#include "engine/ProtectFile.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "certificate/NewFileWriter.h"
#include "engine/SearchFolder.h"

namespace kiv::engine {

namespace {

bool MeansWrongPassword(std::string description) {
    std::transform(description.begin(), description.end(), description.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return description.find("password is not correct") != std::string::npos;
}

FileResult Result(Outcome outcome, std::string status) {
    return {outcome, std::move(status)};
}

FileResult LoadFailure(const std::string& description) {
    return Result(Outcome::LoadError, "Error Loading : " + description);
}

// How a save that failed, or the writer's test before one, ends the file.
FileResult SaveFailure(const certificate::CallResult& saved, const std::string& output) {
    // A file that appeared at the output path in the meantime is left alone.
    if (saved.targetExists) return OutputTaken(output);
    return Result(Outcome::SaveError, "Error Saving : " + saved.description);
}

// Makes a certificate object and loads `source`, which must be there, into it as a password-less file.
FileResult LoadWithEmptyPassword(filesystem::FileSystem* files,
                                 const certificate::CertificateFactory& certificates,
                                 const std::string& source,
                                 std::unique_ptr<certificate::Certificate>& certificate) {
    if (!files) return LoadFailure("the file system cannot be read");
    if (!files->FileExists(source)) return Result(Outcome::NotFound, "File not found");
    try {
        if (certificates) certificate = certificates();
    } catch (...) {
        certificate.reset();
    }
    if (!certificate) return Result(Outcome::NoComponent, "Can't create ActiveX object");

    const certificate::CallResult loaded = certificate->Load(source, std::string(), 1, 0);
    if (loaded.ok) return Result(Outcome::Ok, std::string());
    certificate.reset();
    if (MeansWrongPassword(loaded.description))
        return Result(Outcome::AlreadyProtected, "File is already password protected");
    return LoadFailure(loaded.description);
}

}  // namespace

FileResult OutputTaken(const std::string& output) {
    return Result(Outcome::OutputExists, "File [" + output + "] already exists");
}

std::string OutputPathFor(std::string_view source, Naming naming) {
    const std::size_t keep = source.size() >= 4 ? source.size() - 4 : 0;
    const bool p12 = naming == Naming::Pkcs12 && EndsWithExtension(source, ".P12");
    return std::string(source.substr(0, keep)) + (p12 ? "_Password.p12" : "_Password.Pfx");
}

FileResult LoadSource(filesystem::FileSystem* files, const certificate::CertificateFactory& certificates,
                      const std::string& source, const std::string& output,
                      std::unique_ptr<certificate::Certificate>& certificate) {
    certificate.reset();
    if (files && files->FileExists(output)) return OutputTaken(output);
    return LoadWithEmptyPassword(files, certificates, source, certificate);
}

FileResult CheckTakenOutput(filesystem::FileSystem* files,
                            const certificate::CertificateFactory& certificates, const std::string& source,
                            const std::string& output, const std::string& password) {
    std::unique_ptr<certificate::Certificate> certificate;
    FileResult loaded = LoadWithEmptyPassword(files, certificates, source, certificate);
    if (loaded.outcome != Outcome::Ok) return loaded;
    const certificate::CallResult copy = certificate->IsCopyAt(output, password);
    if (copy.ok) return OutputTaken(output);
    return Result(Outcome::NotItsCopy,
                  OutputTaken(output).status + " and is not this file's protected copy: " + copy.description);
}

FileResult ProtectFile(filesystem::FileSystem* files, const certificate::CertificateFactory& certificates,
                       const std::string& source, const std::string& output, const std::string& password) {
    std::unique_ptr<certificate::Certificate> certificate;
    FileResult loaded = LoadSource(files, certificates, source, output, certificate);
    if (loaded.outcome != Outcome::Ok) return loaded;
    const certificate::CallResult saved = certificate->Save(output, password, 0, 1);
    certificate.reset();
    if (!saved.ok) return SaveFailure(saved, output);
    if (files->FileExists(output)) return Result(Outcome::Ok, "OK");
    return UnknownFailure();
}

FileResult UnknownFailure() {
    return Result(Outcome::Unknown, "Failed : Unknown Error");
}

FileResult CheckFile(filesystem::FileSystem* files, const certificate::CertificateFactory& certificates,
                     const std::string& source, const std::string& output) {
    std::unique_ptr<certificate::Certificate> certificate;
    FileResult loaded = LoadSource(files, certificates, source, output, certificate);
    if (loaded.outcome != Outcome::Ok) return loaded;
    certificate.reset();
    const certificate::CallResult writable = certificate::CheckNewFile(output);
    if (!writable.ok) return SaveFailure(writable, output);
    return Result(Outcome::Ready, "Ready");
}

}  // namespace kiv::engine
