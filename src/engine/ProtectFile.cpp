#include "engine/ProtectFile.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "engine/SearchFolder.h"

namespace kiv::engine {

namespace {

bool MeansWrongPassword(std::string description) {
    std::transform(description.begin(), description.end(), description.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return description.find("password is not correct") != std::string::npos;
}

std::string ExistsStatus(const std::string& output) {
    return "File [" + output + "] already exists";
}

FileResult Result(Outcome outcome, std::string status) {
    return {outcome, std::move(status)};
}

// Makes a certificate object and loads `source` into it as a password-less file.
FileResult LoadWithEmptyPassword(const certificate::CertificateFactory& certificates,
                                 const std::string& source,
                                 std::unique_ptr<certificate::Certificate>& certificate) {
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
    return Result(Outcome::LoadError, "Error Loading : " + loaded.description);
}

}  // namespace

std::string OutputPathFor(std::string_view source, Naming naming) {
    const std::size_t keep = source.size() >= 4 ? source.size() - 4 : 0;
    const bool p12 = naming == Naming::Pkcs12 && EndsWithExtension(source, ".P12");
    return std::string(source.substr(0, keep)) + (p12 ? "_Password.p12" : "_Password.Pfx");
}

FileResult LoadSource(filesystem::FileSystem* files, const certificate::CertificateFactory& certificates,
                      const std::string& source, const std::string& output,
                      std::unique_ptr<certificate::Certificate>& certificate) {
    certificate.reset();
    if (!files) return Result(Outcome::LoadError, "Error Loading : the file system cannot be read");
    if (files->FileExists(output)) return Result(Outcome::OutputExists, ExistsStatus(output));
    if (!files->FileExists(source)) return Result(Outcome::NotFound, "File not found");

    return LoadWithEmptyPassword(certificates, source, certificate);
}

FileResult CheckTakenOutput(filesystem::FileSystem* files,
                            const certificate::CertificateFactory& certificates, const std::string& source,
                            const std::string& output, const std::string& password) {
    if (!files) return Result(Outcome::LoadError, "Error Loading : the file system cannot be read");
    if (!files->FileExists(source)) return Result(Outcome::NotFound, "File not found");
    std::unique_ptr<certificate::Certificate> certificate;
    FileResult loaded = LoadWithEmptyPassword(certificates, source, certificate);
    if (loaded.outcome != Outcome::Ok) return loaded;
    const certificate::CallResult copy = certificate->IsCopyAt(output, password);
    if (copy.ok) return Result(Outcome::OutputExists, ExistsStatus(output));
    return Result(Outcome::OutputTaken,
                  ExistsStatus(output) + " and is not this file's protected copy: " + copy.description);
}

FileResult ProtectFile(filesystem::FileSystem* files, const certificate::CertificateFactory& certificates,
                       const std::string& source, const std::string& output, const std::string& password) {
    std::unique_ptr<certificate::Certificate> certificate;
    FileResult loaded = LoadSource(files, certificates, source, output, certificate);
    if (loaded.outcome != Outcome::Ok) return loaded;
    const certificate::CallResult saved = certificate->Save(output, password, 0, 1);
    certificate.reset();
    // A file that appeared at the output path while we wrote ours was left alone.
    if (!saved.ok && saved.targetExists) return Result(Outcome::OutputExists, ExistsStatus(output));
    if (!saved.ok) return Result(Outcome::SaveError, "Error Saving : " + saved.description);
    if (files->FileExists(output)) return Result(Outcome::Ok, "OK");
    return Result(Outcome::Unknown, "Failed : Unknown Error");
}

}  // namespace kiv::engine
