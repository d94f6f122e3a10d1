#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/FindFiles.h"
#include "cli/Password.h"
#include "engine/ProtectFile.h"

namespace kiv::cli {

struct ProtectOptions {
    std::vector<std::string> paths;
    std::optional<PathList> list;  // --files-from, read as the run goes
    std::optional<Shard> shard;    // only this part of the files found
    PasswordSource password;
    unsigned jobs = 0;  // 0: one per core
    bool dryRun = false;
    bool json = false;
    bool zero = false;  // report records end with a NUL byte and carry names as they are
    bool quiet = false;
    bool removeSources = false;     // a source whose copy is there and verified is removed
    certificate::SaveOptions save;  // its parallelDerivations is set by the run from the number of jobs
};

// Makes the certificate factory a run saves with.
using CertificateFactoryFor = certificate::CertificateFactoryFor;

// What one file came to, as the report gives it.
struct FileReport {
    std::string source;
    std::string output;
    std::string status;    // the engine's status text, as the window shows it
    std::string kind;      // the outcome as a word for scripts: "ok", "output-exists", "load-error", ...
    bool skipped = false;  // already protected: nothing to do, and no failure
    double milliseconds = 0;
    bool failed = false;
    bool removed = false;  // the source was removed (in a dry run: would be)
};

// Makes a file-system object; each thread of a run uses one of its own.
using FileSystemMaker = std::function<std::unique_ptr<filesystem::FileSystem>()>;

// Runs `kivpfx protect`; returns the exit status. Files are protected as they are found, in that
// order, with a number of them in hand that depends on the jobs, not on how many there are. With
// more than one job the files already keep the cores busy, so each save derives its keys on its own
// job's thread. Sources that share an output name are taken in the order found, so the later ones
// find it taken, in a dry run too when they are found close together (as in one folder).
int RunProtect(const ProtectOptions& options, const CertificateFactoryFor& certificatesFor, std::FILE* out,
               std::FILE* err, const FileSystemMaker& fileSystems = filesystem::CreateLocalFileSystem);

// The number of processors this process may run on.
unsigned CoreCount();

}  // namespace kiv::cli
