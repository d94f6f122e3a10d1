#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "certificate/Certificate.h"
#include "filesystem/FileSystem.h"

namespace kiv::engine {

// How protecting one file ended; the status text says the same for a person.
enum class Outcome {
    Ok,
    OutputExists,      // the output name was taken: nothing written
    NotFound,          // no source file
    AlreadyProtected,  // the source has a password of its own
    NoComponent,       // no certificate object could be made
    LoadError,
    SaveError,
    Unknown,     // the save reported success but no output is there
    Ready,       // the dry run found nothing in the way of a save
    NotItsCopy,  // kivpfx: the output name holds something that is not this file's protected copy
};

struct FileResult {
    Outcome outcome = Outcome::Unknown;
    std::string status;  // the Status column's text
};

// True for the outcomes a run counts as done: the copy was written now, exists already, or (in a dry
// run) could be written.
inline bool Succeeded(Outcome outcome) {
    return outcome == Outcome::Ok || outcome == Outcome::OutputExists || outcome == Outcome::Ready;
}

// The result for a source whose output name is taken.
FileResult OutputTaken(const std::string& output);
// The result for a file whose protection ended in a way nobody foresaw.
FileResult UnknownFailure();

// How outputs are named. Pfx: the source's last four bytes (the extension) replaced by
// "_Password.Pfx", whatever they are (the window's rule). Pkcs12: the same, except that a source
// ending in ".p12" in any letter case gets "_Password.p12" (kivpfx, which also takes .p12 files).
enum class Naming { Pfx, Pkcs12 };

// The output path of a source.
std::string OutputPathFor(std::string_view source, Naming naming = Naming::Pfx);

// What comes before a save: the output name is free, the source is there, and a fresh certificate
// object loads it with the empty password. Ok (with no status text) leaves the loaded object in
// `certificate`; any other outcome carries its status text and leaves `certificate` empty.
FileResult LoadSource(filesystem::FileSystem* files, const certificate::CertificateFactory& certificates,
                      const std::string& source, const std::string& output,
                      std::unique_ptr<certificate::Certificate>& certificate);

// The dry run of one file: LoadSource, then the file writer's own tests of the output name and
// folder, so it ends as ProtectFile would up to the save; Ready when nothing is in the way. Writes
// nothing.
FileResult CheckFile(filesystem::FileSystem* files, const certificate::CertificateFactory& certificates,
                     const std::string& source, const std::string& output);

// kivpfx's look at an output name that is taken, where the window only reports it: OutputExists when
// the file there is a protected copy of `source` under `password` (a run before made it), and
// NotItsCopy with the reason otherwise. A source that does not load gives that load's outcome.
FileResult CheckTakenOutput(filesystem::FileSystem* files,
                            const certificate::CertificateFactory& certificates, const std::string& source,
                            const std::string& output, const std::string& password);

// Protects one file: tests the output and the source, loads the source with the empty password and
// saves a copy under `password` at `output`. Paths are the file system's bytes; the status texts
// carry them as they are. Never throws and never replaces a file.
FileResult ProtectFile(filesystem::FileSystem* files, const certificate::CertificateFactory& certificates,
                       const std::string& source, const std::string& output, const std::string& password);

}  // namespace kiv::engine
