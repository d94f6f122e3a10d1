#include "cli/Cli.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <unistd.h>

#include <cerrno>
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
#include "filesystem/SystemCalls.h"

#ifndef KIV_VERSION
#define KIV_VERSION "unknown"
#endif

namespace kiv::cli {
namespace {

constexpr int kUsage = 2;
constexpr unsigned kMostJobs = 256;

constexpr const char* kHelp =
    "Usage: kivpfx protect [options] PATH...\n"
    "       kivpfx inspect [options] PATH...\n"
    "       kivpfx help [protect | inspect]\n"
    "       kivpfx --help | --version\n"
    "\n"
    "kivpfx puts a password on password-less PKCS#12 files (.pfx and .p12). protect\n"
    "writes a protected copy of each beside it, as NAME_Password.Pfx\n"
    "(NAME_Password.p12 for a .p12 file), and never overwrites a file; inspect tells\n"
    "what files hold.\n"
    "\n"
    "'kivpfx help protect' and 'kivpfx help inspect' (or COMMAND --help) tell each\n"
    "command and its options; 'man kivpfx' has the full description.\n"
    "\n"
    "Exit status: 0 all done; 1 a file failed or could not be read; 2 bad usage;\n"
    "130 stopped by Ctrl-C.\n";

constexpr const char* kProtectHelp =
    "Usage: kivpfx protect [options] PATH...\n"
    "\n"
    "Writes a password-protected copy of every password-less PKCS#12 file named, and\n"
    "of every file ending in .pfx or .p12 (any letter case) below the folders named,\n"
    "beside it as NAME_Password.Pfx (NAME_Password.p12 for a .p12 file), as the\n"
    "files are found. No file is ever overwritten: an output name that is taken is\n"
    "left alone, and counts as done only when it holds this file's copy under the\n"
    "same password. Files that already have a password are skipped. Copies use\n"
    "AES-256-CBC (PBES2, PBKDF2-HMAC-SHA256) and an HMAC-SHA256 integrity check with\n"
    "10,000 iterations; each is read back and compared before it gets its name.\n"
    "\n"
    "Options:\n"
    "  -j, --jobs N              protect N files at once, on at most N cores\n"
    "                            (default: the number of cores)\n"
    "      --compat              3DES (pbeWithSHAAnd3-KeyTripleDES-CBC) and an\n"
    "                            HMAC-SHA1 check, for systems that cannot read\n"
    "                            AES-256 copies: Windows 10 before 1709 and Server\n"
    "                            2016, macOS up to 10.15, Android up to 9, Java 8\n"
    "                            before update 301. Weaker: only for those systems\n"
    "      --iterations N        key derivation iterations, 1,000 to 1,000,000\n"
    "                            (default: 10,000); more makes guessing the\n"
    "                            password slower, and every file slower too\n"
    "      --password-file FILE  read the password from the first line of FILE\n"
    "                            (- for standard input)\n"
    "      --password-fd N       read the password from the first line of open\n"
    "                            descriptor N\n"
    "  -n, --dry-run             load every file and test its output name; write\n"
    "                            and remove nothing (the password is asked only to\n"
    "                            open outputs that are already there)\n"
    "      --files-from FILE     also take the paths listed in FILE (- for standard\n"
    "                            input), one a line\n"
    "  -0, --null                the --files-from list is separated by NUL bytes\n"
    "                            (find -print0)\n"
    "      --shard K/N           keep only part K of N (0 to N-1) of the files, by a\n"
    "                            stable hash of each file's path below the folder\n"
    "                            named (or of its path as listed), so N runs on N\n"
    "                            machines share the work whatever the mount point\n"
    "      --remove-sources, --rm\n"
    "                            remove each password-less source once its copy\n"
    "                            is written, flushed, read back and verified (or\n"
    "                            was there and verified), and only if the source\n"
    "                            is unchanged since it was read. A forgotten\n"
    "                            password then cannot be recovered from a source\n"
    "      --json                print one JSON report on standard output\n"
    "  -z, --zero                end each report line with a NUL byte, not a\n"
    "                            newline, and write names as they are (for scripts)\n"
    "  -q, --quiet               print failures only\n"
    "  -h, --help                show this help\n"
    "\n"
    "The password is asked twice on the terminal unless --password-file or\n"
    "--password-fd gives it. It is never taken from the command line, where other\n"
    "users could read it.\n"
    "\n"
    "Without --json, each file gets a line STATUS<TAB>PATH on standard output, in\n"
    "the order the files were found; on a terminal only failures get one, and a\n"
    "progress line is kept on standard error. A name or status holding a control\n"
    "character, or beginning with ', is quoted as the shell reads it back:\n"
    "'evil'$'\\n''OK'. --zero and --json carry every name exactly.\n"
    "\n"
    "Exit status: 0 every file OK, its output already there or already protected;\n"
    "1 a file failed, or a folder or listed path was left out; 2 bad usage; 130\n"
    "stopped by Ctrl-C (files in flight are finished, nothing partial is left). A\n"
    "second Ctrl-C stops at once, abandoning the files in flight; none is left\n"
    "half-written.\n";

constexpr const char* kInspectHelp =
    "Usage: kivpfx inspect [options] PATH...\n"
    "\n"
    "Tells for each file named, and each .pfx and .p12 file below the folders named,\n"
    "whether it is password-less, protected or unreadable (with the reason protect\n"
    "gives) and in which format (AES-256, 3DES or what each part uses), and lists\n"
    "the keys and certificates of password-less ones. Files are read within\n"
    "protect's limits. A last line on standard error counts the files of each kind.\n"
    "\n"
    "Options:\n"
    "      --json                print one JSON report on standard output\n"
    "      --fail-if-passwordless\n"
    "                            exit with 1 when a password-less file is found, so\n"
    "                            that a scheduled job can tell a share is clean\n"
    "  -h, --help                show this help\n"
    "\n"
    "Exit status: 0 every file could be read; 1 a file or folder could not be read,\n"
    "or with --fail-if-passwordless a password-less file was found; 2 bad usage.\n";

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
            std::fputs(kProtectHelp, io.out);
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
        } else if (Is(argument, "--remove-sources", "--rm")) {
            options.removeSources = true;
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
    // The list is opened now, so that a name that is wrong is a usage error, and read as the run goes.
    int listFd = -1;
    if (filesFrom) {
        if (*filesFrom == "-" && passwordFile && options.password.file == "-")
            return UsageError(io, "standard input cannot hold both the file list and the password");
        const bool own = *filesFrom != "-";
        listFd = own ? ::open(filesFrom->c_str(), O_RDONLY | O_CLOEXEC) : io.in;
        const int error = errno;
        const std::string name = own ? filesystem::Quoted(*filesFrom) : std::string("standard input");
        if (listFd < 0)
            return UsageError(io, "--files-from: " + name + ": " + filesystem::SystemMessage(error));
        options.list = PathList{listFd, nulSeparated, name};
    }
    if (options.paths.empty() && !options.list)
        return UsageError(io, "protect needs at least one file or folder");
    const int status = RunProtect(
        options,
        [](const certificate::SaveOptions& save) { return certificate::OpenSslCertificateFactory(save); },
        io.out, io.err);
    if (listFd >= 0 && listFd != io.in) ::close(listFd);
    return status;
}

int Inspect(int argc, char** argv, const Streams& io) {
    std::vector<std::string> paths;
    InspectOptions options;
    bool pathsOnly = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (pathsOnly || argument == "-" || !argument.starts_with("-")) {
            paths.emplace_back(argument);
        } else if (argument == "--") {
            pathsOnly = true;
        } else if (Is(argument, "--help", "-h")) {
            std::fputs(kInspectHelp, io.out);
            return 0;
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--fail-if-passwordless") {
            options.failIfPasswordLess = true;
        } else {
            return UsageError(io, "unknown option " + Named(argument));
        }
    }
    if (paths.empty()) return UsageError(io, "inspect needs at least one file or folder");
    return RunInspect(paths, options, io.out, io.err);
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
        const std::string_view topic = command == "help" && argc > 2 ? argv[2] : "";
        if (!topic.empty() && topic != "protect" && topic != "inspect")
            return UsageError(io, "no help on " + Named(topic) + "; the commands are protect and inspect");
        std::fputs(topic == "protect" ? kProtectHelp : topic == "inspect" ? kInspectHelp : kHelp, io.out);
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
