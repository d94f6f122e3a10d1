// kivpfx over a share too big to hold in memory: the peak memory and the time of `kivpfx protect`
// over a list of 1,000,000 paths (none of them there, so the run only lists and reports them) and
// over the walk of a 200,000-file tree (empty .pfx files, each refused at once). The target is
// under 64 MiB for each, whatever the number of paths.
//   sweep_bench [--paths N] [--files M]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Measure {
    double seconds = 0;
    long peakKb = 0;
    int status = -1;
};

// `kivpfx protect ARGS` with its report and summary thrown away.
Measure Kivpfx(const std::vector<std::string>& args) {
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv = {const_cast<char*>("kivpfx"), const_cast<char*>("protect")};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(KIVPFX_PATH, argv.data());
        _exit(127);
    }
    Measure m;
    rusage usage{};
    int status = 0;
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return m;
    m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    m.peakKb = usage.ru_maxrss;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m;
}

void Print(const char* what, long count, const Measure& m) {
    std::printf("%-34s %9ld paths  %8.1f MiB peak  %7.2f s  (%.2f us a path, exit %d)\n", what, count,
                m.peakKb / 1024.0, m.seconds, m.seconds * 1e6 / static_cast<double>(count), m.status);
}

}  // namespace

int main(int argc, char** argv) {
    long paths = 1'000'000, files = 200'000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--paths") paths = std::atol(argv[i + 1]);
        if (arg == "--files") files = std::atol(argv[i + 1]);
    }
    char pattern[] = "/tmp/kivpfx-sweep-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const fs::path dir = pattern;
    std::FILE* password = std::fopen((dir / "password").c_str(), "w");
    std::fputs("Sweep-Bench-1\n", password);
    std::fclose(password);
    const std::string passwordFile = (dir / "password").string();

    // Paths as a share's would look, each a different name, none of them there.
    std::FILE* list = std::fopen((dir / "list").c_str(), "w");
    for (long i = 0; i < paths; ++i)
        std::fprintf(list, "/srv/share/department-%03ld/team-%02ld/host-%07ld.example.org.pfx\n", i % 997,
                     i % 37, i);
    std::fclose(list);
    Print("kivpfx protect --files-from LIST", paths,
          Kivpfx({"--password-file", passwordFile, "--files-from", (dir / "list").string()}));

    // A tree of 500 files a folder.
    const fs::path tree = dir / "tree";
    for (long i = 0; i < files; ++i) {
        const fs::path folder = tree / ("d" + std::to_string(i / 500 % 20)) / ("e" + std::to_string(i / 500));
        if (i % 500 == 0) fs::create_directories(folder);
        const int fd = open((folder / ("f" + std::to_string(i) + ".pfx")).c_str(), O_WRONLY | O_CREAT, 0600);
        if (fd >= 0) close(fd);
    }
    Print("kivpfx protect TREE", files, Kivpfx({"--password-file", passwordFile, tree.string()}));
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return 0;
}
