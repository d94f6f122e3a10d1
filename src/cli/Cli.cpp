#include "cli/Cli.h"

#include <openssl/crypto.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Inspect.h"
#include "cli/Interrupt.h"
#include "cli/Protect.h"
#include "filesystem/PathText.h"

#ifndef KIV_VERSION
#define KIV_VERSION "unknown"
#endif

namespace kiv::cli {
namespace {

constexpr int kUsage = 2;
constexpr unsigned kMostJobs = 256;

constexpr const char* kHelp =
    "Usage: kivpfx protect [options] PATH...\n"
    "       kivpfx inspect [--json] PATH...\n"
    "       kivpfx --help | --version\n"
    "\n"
    "protect writes a password-protected copy of every password-less PKCS#12 file named, and of every\n"
    "file ending in .pfx or .p12 (any letter case) below the folders named, beside it as\n"
    "NAME_Password.Pfx (NAME_Password.p12 for a .p12 file). Sources are never changed and no file is\n"
    "ever overwritten: an output name that is taken is left alone, and counts as done only when it\n"
    "holds this file's copy under the same password. Files that already have a password are skipped.\n"
    "Copies use AES-256-CBC (PBES2, PBKDF2-HMAC-SHA256) and an HMAC-SHA256 integrity check with\n"
    "10,000 iterations; each is read back and compared before it gets its name.\n"
    "\n"
    "protect options:\n"
    "  -j, --jobs N              protect N files at once, on at most N cores\n"
    "                            (default: the number of cores)\n"
    "      --compat              protect with 3DES (pbeWithSHAAnd3-KeyTripleDES-CBC) and an HMAC-SHA1\n"
    "                            integrity check, for systems that cannot read AES-256 copies: Windows 10\n"
    "                            before 1709 and Server 2016, macOS up to 10.15, Android up to 9, Java 8\n"
    "                            before update 301. Weaker; use it only for those systems\n"
    "      --iterations N        key derivation iterations, 1,000 to 1,000,000 (default: 10,000); more\n"
    "                            makes guessing the password slower, and every file slower too\n"
    "      --password-file FILE  read the password from the first line of FILE (- for standard input)\n"
    "      --password-fd N       read the password from the first line of open descriptor N\n"
    "  -n, --dry-run             load every file and test its output name; write nothing (the password\n"
    "                            is asked only to open outputs that are already there)\n"
    "      --files-from FILE     also take the paths listed in FILE (- for standard input), one a line\n"
    "  -0, --null                the --files-from list is separated by NUL bytes (find -print0)\n"
    "      --shard K/N           keep only part K of N (0 to N-1) of the files, by a stable hash of each\n"
    "                            file's path below the folder named (or of its path as listed), so N\n"
    "                            runs on N machines share the work whatever the mount point\n"
    "      --json                print one JSON report on standard output\n"
    "  -z, --zero                end each report line with a NUL byte instead of a newline, and\n"
    "                            write each name as it is (for scripts)\n"
    "  -q, --quiet               print failures only\n"
    "Without --password-file or --password-fd the password is asked twice on the terminal. It is\n"
    "never taken from the command line, where other users could read it.\n"
    "\n"
    "Without --json, each file gets a line STATUS<TAB>PATH on standard output, in the order the files\n"
    "were found; on a terminal only failures get one, and a progress line is kept on standard error.\n"
    "A name (or status) holding a control character, or beginning with ', is written quoted as the\n"
    "shell reads it back: 'evil'$'\\n''OK'. --zero and --json carry every name exactly.\n"
    "\n"
    "inspect tells for each file whether it is password-less, protected or unreadable (with the\n"
    "reason protect gives) and in which format (AES-256, 3DES or what each part uses), and lists the\n"
    "keys and certificates of password-less ones. It reads files within protect's limits.\n"
    "\n"
    "Exit status: 0 every file OK, its output already there or already protected; 1 a file failed (for\n"
    "inspect: could not be read); 2 bad usage; 130 stopped by Ctrl-C (files in flight are finished,\n"
    "nothing partial is left). A second Ctrl-C stops at once, abandoning the files in flight; none is\n"
    "left half-written.\n";

// Where a run reads and writes: the process's own streams, or a test's.
struct Streams {
    int in;
    std::FILE* out;
    std::FILE* err;
};

int UsageError(const Streams& io, const std::string& message) {
    std::fprintf(io.err, "kivpfx: %s\nTry 'kivpfx --help' for more information.\n", message.c_str());
    return kUsage;
}

// An argument in a message: in quotes, as the shell would quote it when it holds a control character.
std::string Named(std::string_view argument) {
    const std::string quoted = filesystem::Quoted(argument);
    return quoted.starts_with('\'') ? quoted : "'" + quoted + "'";
}

std::optional<unsigned> Number(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

// Walks the arguments after the command: "--name value", "--name=value", "-x value", "-xvalue",
// and "--" before paths that start with a dash.
class Arguments {
  public:
    Arguments(int argc, char** argv, int first) : argc_(argc), argv_(argv), next_(first) {}

    bool Done() const { return next_ >= argc_; }
    std::string_view Current() const { return argv_[next_]; }
    void Skip() { ++next_; }

    // The value of the option at the current argument, which is `name` (or starts with "name=").
    std::optional<std::string> Value(std::string_view name) {
        const std::string_view argument = argv_[next_++];
        if (argument.size() > name.size()) {
            std::string_view rest = argument.substr(name.size());
            if (rest.front() == '=') rest.remove_prefix(1);
            return std::string(rest);
        }
        if (next_ >= argc_) return std::nullopt;
        return std::string(argv_[next_++]);
    }

  private:
    int argc_;
    char** argv_;
    int next_;
};

bool Is(std::string_view argument, std::string_view longName, std::string_view shortName = {}) {
    if (argument == longName || (!shortName.empty() && argument == shortName)) return true;
    return false;
}

bool TakesValue(std::string_view argument, std::string_view longName, std::string_view shortName = {}) {
    if (argument == longName || argument.starts_with(std::string(longName) + "=")) return true;
    return !shortName.empty() && argument.starts_with(shortName);
}

int Protect(int argc, char** argv, const Streams& io) {
    ProtectOptions options;
    bool passwordFile = false;
    bool passwordFd = false;
    bool pathsOnly = false;
    std::optional<std::string> filesFrom;
    bool nulSeparated = false;
    for (Arguments args(argc, argv, 2); !args.Done();) {
        const std::string_view argument = args.Current();
        if (pathsOnly || argument == "-" || !argument.starts_with("-")) {
            options.paths.emplace_back(argument);
            args.Skip();
        } else if (argument == "--") {
            pathsOnly = true;
            args.Skip();
        } else if (Is(argument, "--help", "-h")) {
            std::fputs(kHelp, io.out);
            return 0;
        } else if (Is(argument, "--dry-run", "-n")) {
            options.dryRun = true;
            args.Skip();
        } else if (Is(argument, "--json")) {
            options.json = true;
            args.Skip();
        } else if (Is(argument, "--zero", "-z")) {
            options.zero = true;
            args.Skip();
        } else if (Is(argument, "--quiet", "-q")) {
            options.quiet = true;
            args.Skip();
        } else if (TakesValue(argument, "--jobs", "-j")) {
            const std::string name = argument.starts_with("--") ? "--jobs" : "-j";
            const auto value = args.Value(name);
            const auto jobs = value ? Number(*value) : std::nullopt;
            if (!jobs || *jobs < 1 || *jobs > kMostJobs)
                return UsageError(io, "--jobs needs a number from 1 to " + std::to_string(kMostJobs));
            options.jobs = *jobs;
        } else if (TakesValue(argument, "--files-from")) {
            const auto value = args.Value("--files-from");
            if (!value || value->empty())
                return UsageError(io, "--files-from needs a file name (- for standard input)");
            filesFrom = *value;
        } else if (Is(argument, "--null", "-0")) {
            nulSeparated = true;
            args.Skip();
        } else if (TakesValue(argument, "--shard")) {
            const auto value = args.Value("--shard");
            options.shard = value ? Shard::Parse(*value) : std::nullopt;
            if (!options.shard)
                return UsageError(io, "--shard needs K/N with N at least 1 and K from 0 to N-1");
        } else if (Is(argument, "--compat")) {
            options.save.algorithms = certificate::SaveOptions::Algorithms::TripleDesSha1;
            args.Skip();
        } else if (TakesValue(argument, "--iterations")) {
            const auto value = args.Value("--iterations");
            const auto iterations = value ? Number(*value) : std::nullopt;
            // Out of range or not a number: the component's own words say what it takes.
            options.save.iterations =
                iterations && *iterations <= static_cast<unsigned>(certificate::kMostSaveIterations)
                    ? static_cast<int>(*iterations)
                    : 0;
            const std::string problem = certificate::SaveOptionsProblem(options.save);
            if (!problem.empty()) return UsageError(io, "--iterations: " + problem);
        } else if (TakesValue(argument, "--password-file")) {
            const auto value = args.Value("--password-file");
            if (!value || value->empty())
                return UsageError(io, "--password-file needs a file name (- for standard input)");
            options.password.kind = PasswordSource::Kind::File;
            options.password.file = *value;
            options.password.standardInput = io.in;
            passwordFile = true;
        } else if (TakesValue(argument, "--password-fd")) {
            const auto value = args.Value("--password-fd");
            const auto fd = value ? Number(*value) : std::nullopt;
            if (!fd || *fd > 1u << 20) return UsageError(io, "--password-fd needs a descriptor number");
            options.password.kind = PasswordSource::Kind::Descriptor;
            options.password.fd = static_cast<int>(*fd);
            passwordFd = true;
        } else if (argument == "--password" || argument.starts_with("--password=") || argument == "-p") {
            return UsageError(
                io,
                "the password is never taken from the command line, where other users can read it; "
                "use --password-file FILE, --password-fd N or the terminal prompt");
        } else {
            return UsageError(io, "unknown option " + Named(argument));
        }
    }
    if (options.json && options.zero) return UsageError(io, "give either --json or --zero, not both");
    if (passwordFile && passwordFd)
        return UsageError(io, "give either --password-file or --password-fd, not both");
    if (nulSeparated && !filesFrom) return UsageError(io, "--null only applies to a --files-from list");
    if (filesFrom) {
        if (*filesFrom == "-" && passwordFile && options.password.file == "-")
            return UsageError(io, "standard input cannot hold both the file list and the password");
        std::string error;
        if (!ReadPathList(*filesFrom, nulSeparated, options.paths, error, io.in))
            return UsageError(io, "--files-from: " + error);
        if (options.paths.empty() && !options.quiet) std::fputs("kivpfx: the file list is empty\n", io.err);
        if (options.paths.empty()) return 0;
    }
    if (options.paths.empty()) return UsageError(io, "protect needs at least one file or folder");
    return RunProtect(
        options,
        [](const certificate::SaveOptions& save) { return certificate::OpenSslCertificateFactory(save); },
        io.out, io.err);
}

int Inspect(int argc, char** argv, const Streams& io) {
    std::vector<std::string> paths;
    bool json = false;
    bool pathsOnly = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (pathsOnly || argument == "-" || !argument.starts_with("-")) {
            paths.emplace_back(argument);
        } else if (argument == "--") {
            pathsOnly = true;
        } else if (Is(argument, "--help", "-h")) {
            std::fputs(kHelp, io.out);
            return 0;
        } else if (argument == "--json") {
            json = true;
        } else {
            return UsageError(io, "unknown option " + Named(argument));
        }
    }
    if (paths.empty()) return UsageError(io, "inspect needs at least one file or folder");
    return RunInspect(paths, json, io.out, io.err);
}

}  // namespace

int Main(int argc, char** argv) {
    return Main(argc, argv, 0, stdout, stderr);
}

int Main(int argc, char** argv, int in, std::FILE* out, std::FILE* err) {
    const Streams io{in, out, err};
    if (argc < 2) return UsageError(io, "no command given; the commands are protect and inspect");
    const std::string_view command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kHelp, io.out);
        return 0;
    }
    if (command == "--version") {
        std::fprintf(io.out, "kivpfx (Kiv Pfx Utility) %s\n%s\n", KIV_VERSION,
                     OpenSSL_version(OPENSSL_VERSION));
        return 0;
    }
    InstallInterruptHandlers();
    if (command == "protect") return Protect(argc, argv, io);
    if (command == "inspect") return Inspect(argc, argv, io);
    return UsageError(io, "unknown command " + Named(command) + "; the commands are protect and inspect");
}

}  // namespace kiv::cli
