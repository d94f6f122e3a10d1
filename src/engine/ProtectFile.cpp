#include "engine/ProtectFile.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "engine/SearchFolder.h"
#include "filesystem/NewFileWriter.h"
#include "filesystem/PathText.h"

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

// Descriptions may carry text from outside (a name, a system message): quoted so that a status
// never breaks its row or line.
FileResult LoadFailure(const std::string& description) {
    return Result(Outcome::LoadError, "Error Loading : " + filesystem::Quoted(description));
}

// How a save that failed, or the writer's test before one, ends the file.
FileResult SaveFailure(bool targetExists, const std::string& description, const std::string& output) {
    // A file that appeared at the output path in the meantime is left alone.
    if (targetExists) return OutputTaken(output);
    return Result(Outcome::SaveError, "Error Saving : " + filesystem::Quoted(description));
}

// Makes a certificate object and loads `source`, which must be there, into it as a password-less file.
FileResult LoadWithEmptyPassword(filesystem::FileSystem* files,
                                 const certificate::CertificateFactory& certificates,
                                 const std::string& source,
                                 std::unique_ptr<certificate::Certificate>& certificate) {
    if (!files) return LoadFailure("the file system cannot be read");
    if (!files->FileExists(source)) {
        // Something that is there but is no file (a folder, a FIFO, a device) is not "not found".
        const std::string what = files->WhyNotAFile(source);
        return what.empty() ? Result(Outcome::NotFound, "File not found") : LoadFailure(what);
    }
    try {
        if (certificates) certificate = certificates(*files);
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
    return Result(Outcome::OutputExists, "File [" + filesystem::Quoted(output) + "] already exists");
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
                  OutputTaken(output).status +
                      " and is not this file's protected copy: " + filesystem::Quoted(copy.description));
}

FileResult ProtectFile(filesystem::FileSystem* files, const certificate::CertificateFactory& certificates,
                       const std::string& source, const std::string& output, const std::string& password) {
    std::unique_ptr<certificate::Certificate> certificate;
    FileResult loaded = LoadSource(files, certificates, source, output, certificate);
    if (loaded.outcome != Outcome::Ok) return loaded;
    const certificate::CallResult saved = certificate->Save(output, password, 0, 1);
    certificate.reset();
    if (!saved.ok) return SaveFailure(saved.targetExists, saved.description, output);
    if (files->FileExists(output)) return Result(Outcome::Ok, "OK");
    return UnknownFailure();
}

FileResult RemoveSource(filesystem::FileSystem* files, FileResult done, const std::string& source,
                        const std::optional<filesystem::FileStamp>& read, bool dryRun) {
    const auto kept = [&](const std::string& why) {
        return Result(Outcome::SourceKept, done.status + ", source kept: " + why);
    };
    // Removing a link or one of several names would leave the key itself where it is.
    if (!files || !read) return kept("it cannot be examined.");
    if (read->symbolicLink) return kept("it is a symbolic link, and the file it names stays.");
    if (!read->regular || read->links != 1)
        return kept(read->regular ? "the file has other names (hard links)." : "it is not a regular file.");
    // Checked just before the removal: a source replaced or written since it was read is not what
    // the copy holds.
    if (files->Stamp(source) != read) return kept("it was replaced or changed after it was read.");
    if (dryRun) {
        done.status += ", source to be removed";
    } else {
        const filesystem::Removal removal = files->RemoveFile(source);
        if (!removal.removed) return kept(removal.problem);
        // Gone, but its folder was not flushed: a power cut could still bring it back.
        if (!removal.problem.empty()) done.outcome = Outcome::SourceKept;
        done.status +=
            removal.problem.empty() ? ", source removed" : ", source removed, but " + removal.problem;
    }
    done.sourceRemoved = true;
    return done;
}

FileResult UnknownFailure() {
    return Result(Outcome::Unknown, "Failed : Unknown Error");
}

FileResult CheckFile(filesystem::FileSystem* files, const certificate::CertificateFactory& certificates,
                     const std::string& source, const std::string& output) {
    std::unique_ptr<certificate::Certificate> certificate;
    FileResult loaded = LoadSource(files, certificates, source, output, certificate);
    if (loaded.outcome != Outcome::Ok) return loaded;
    // What the save itself would refuse comes before the writer's tests, as in the save.
    const certificate::CallResult savable = certificate->CheckSave(0, 1);
    certificate.reset();
    if (!savable.ok) return SaveFailure(savable.targetExists, savable.description, output);
    const filesystem::WriteResult writable = filesystem::CheckNewFile(*files, output);
    if (!writable.ok) return SaveFailure(writable.targetExists, writable.description, output);
    return Result(Outcome::Ready, "Ready");
}

bool OutputNameTaken(filesystem::FileSystem* files, const std::string& output) {
    return files != nullptr && filesystem::CheckNewFile(*files, output).targetExists;
}

}  // namespace kiv::engine
