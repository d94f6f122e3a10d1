// Protecting N password-less files, side by side in one run:
//   the floor: the key derivations the job cannot do without, alone, spread over the cores;
//   the window program's Proceed over its list (grid and yields included);
//   the kivpfx command line at --jobs 1 and at --jobs = cores, and again over its own outputs;
//   the openssl command line, one file after another.
// Prints wall-clock and CPU milliseconds per file, their ratios, and kivpfx's peak memory.
//   protect_bench [--files N] [--memory-files M] [--window-only]
//   (N defaults to 200; M adds a memory run; --window-only runs the floor and the window alone)
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "certificate/KeyDerivation.h"
#include "main_window/frmmain.h"
#include "platform/forms/FontStandIns.h"
#include "platform/forms/QtFontSystem.h"
#include "platform/grid/FlexGrid.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kPassword = "Bench-Password-1";
constexpr int kProtectionIterations = 10000;

// Every question answered Yes, every dialog cancelled: the run goes ahead on its own.
class AnswerYes final : public kiv::prompts::Prompts {
  public:
    kiv::prompts::Answer ShowMessage(QWidget*, const kiv::prompts::Message&) override {
        return kiv::prompts::Answer::Yes;
    }
    std::optional<QString> OpenFile(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> ChooseFolder(QWidget*, const QString&) override { return std::nullopt; }
};

// Adds up the time spent inside Load and inside Save.
struct Inside {
    double load = 0;  // seconds
    double save = 0;
};

class TimedCertificate final : public kiv::certificate::Certificate {
  public:
    TimedCertificate(std::unique_ptr<kiv::certificate::Certificate> inner, Inside& inside)
        : inner_(std::move(inner)), inside_(inside) {}
    kiv::certificate::CallResult Load(const std::string& p, const std::string& w, int f, int l) override {
        const auto start = Clock::now();
        auto result = inner_->Load(p, w, f, l);
        inside_.load += std::chrono::duration<double>(Clock::now() - start).count();
        return result;
    }
    kiv::certificate::CallResult Save(const std::string& p, const std::string& w, int t, int i) override {
        const auto start = Clock::now();
        auto result = inner_->Save(p, w, t, i);
        inside_.save += std::chrono::duration<double>(Clock::now() - start).count();
        return result;
    }

  private:
    std::unique_ptr<kiv::certificate::Certificate> inner_;
    Inside& inside_;
};

struct Measure {
    double wall = 0;  // seconds
    double cpu = 0;   // seconds of user and system time, all threads
    long peakKb = 0;  // of a child process
};

double Cpu(const rusage& usage) {
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double CpuOf(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return Cpu(usage);
}

bool Run(const std::string& command) {
    if (std::system(command.c_str()) == 0) return true;
    std::fprintf(stderr, "protect_bench: failed: %s\n", command.c_str());
    return false;
}

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
        pclose(pipe);
    }
    return text;
}

// A root, an intermediate and a leaf with its key, exported without a password.
bool MakeSource(const fs::path& dir, const fs::path& pfx) {
    const std::string d = dir.string();
    const std::string quiet = " >/dev/null 2>&1";
    return Run("cd '" + d +
               "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.crt -days 30 "
               "-subj /CN=Bench-Root -addext basicConstraints=critical,CA:TRUE" +
               quiet) &&
           Run("cd '" + d +
               "' && openssl req -newkey rsa:2048 -nodes -keyout int.key -out int.csr -subj /CN=Bench-Int" +
               quiet) &&
           Run("cd '" + d +
               "' && printf 'basicConstraints=critical,CA:TRUE\\n' > ca.ext && openssl x509 -req -in int.csr "
               "-CA root.crt -CAkey root.key -CAcreateserial -out int.crt -days 30 -extfile ca.ext" +
               quiet) &&
           Run("cd '" + d +
               "' && openssl req -newkey rsa:2048 -nodes -keyout leaf.key -out leaf.csr -subj "
               "/CN=Bench-Leaf" +
               quiet) &&
           Run("cd '" + d +
               "' && openssl x509 -req -in leaf.csr -CA int.crt -CAkey int.key -CAcreateserial -out leaf.crt "
               "-days 30" +
               quiet) &&
           Run("cd '" + d +
               "' && cat int.crt root.crt > chain.crt && openssl pkcs12 -export -inkey leaf.key -in leaf.crt "
               "-certfile chain.crt -name bench -passout pass: -out '" +
               pfx.string() + "'" + quiet);
}

bool CopyFiles(const fs::path& source, const fs::path& folder, int n) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    for (int i = 0; i < n; ++i) {
        if (!fs::copy_file(source, folder / ("file" + std::to_string(i) + ".pfx"), ec)) return false;
    }
    return true;
}

int CountOutputs(const fs::path& folder) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        count += entry.path().filename().string().ends_with("_Password.Pfx") ? 1 : 0;
    }
    return count;
}

unsigned Cores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    return std::max(1u, std::thread::hardware_concurrency());
}

// One derivation a copy needs: PBKDF2 for an encryption key, the PKCS#12 KDF for a MAC key.
struct Derivation {
    bool mac = false;
    int iterations = 0;
};

// The input's own derivations, as `openssl pkcs12 -info` names them: one per "Iteration N".
std::vector<Derivation> InputDerivations(const fs::path& source) {
    std::vector<Derivation> found;
    const std::string info =
        Output("openssl pkcs12 -info -noout -passin pass: -in '" + source.string() + "' 2>&1");
    std::size_t at = 0;
    while ((at = info.find("Iteration ", at)) != std::string::npos) {
        const std::size_t lineStart =
            info.rfind('\n', at) == std::string::npos ? 0 : info.rfind('\n', at) + 1;
        found.push_back({info.compare(lineStart, 4, "MAC:") == 0, std::atoi(info.c_str() + at + 10)});
        at += 10;
    }
    return found;
}

// One derivation through OpenSSL's own calls, or (`engine`) through the routines the engine uses.
bool Derive(const Derivation& d, const char* password, int length, bool engine) {
    unsigned char salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    unsigned char key[32];
    if (engine && d.mac) {
        unsigned char* bmp = nullptr;
        int bmpLength = 0;
        if (OPENSSL_utf82uni(password, length, &bmp, &bmpLength) == nullptr) return false;
        const bool ok = kiv::certificate::DerivePkcs12(
            EVP_sha256(), PKCS12_MAC_ID, {bmp, static_cast<std::size_t>(bmpLength)}, salt, d.iterations, key);
        OPENSSL_free(bmp);
        return ok;
    }
    if (engine) {
        return kiv::certificate::DerivePbkdf2(
            EVP_sha256(),
            {reinterpret_cast<const unsigned char*>(password), static_cast<std::size_t>(length)}, salt,
            d.iterations, key);
    }
    if (d.mac) {
        return PKCS12_key_gen_utf8_ex(password, length, salt, sizeof salt, PKCS12_MAC_ID, d.iterations,
                                      sizeof key, key, EVP_sha256(), nullptr, nullptr) == 1;
    }
    return PKCS5_PBKDF2_HMAC(password, length, salt, sizeof salt, d.iterations, EVP_sha256(), sizeof key,
                             key) == 1;
}

// The derivations alone: per file the input's own and three at the protection count, files shared
// out over `threads`.
Measure Floor(int n, unsigned threads, const std::vector<Derivation>& input, bool engine) {
    std::vector<Derivation> perFile = input;
    perFile.push_back({false, kProtectionIterations});
    perFile.push_back({false, kProtectionIterations});
    perFile.push_back({true, kProtectionIterations});
    std::atomic<int> next{0};
    std::atomic<bool> ok{true};
    const double cpuStart = CpuOf(RUSAGE_SELF);
    const auto start = Clock::now();
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            for (int i = next++; i < n; i = next++) {
                for (std::size_t k = 0; k < perFile.size(); ++k) {
                    const bool fromInput = k < input.size();
                    if (!Derive(perFile[k], fromInput ? "" : kPassword,
                                fromInput ? 0 : static_cast<int>(std::strlen(kPassword)), engine))
                        ok = false;
                }
            }
        });
    }
    for (auto& thread : pool) thread.join();
    Measure m;
    m.wall = std::chrono::duration<double>(Clock::now() - start).count();
    m.cpu = CpuOf(RUSAGE_SELF) - cpuStart;
    if (!ok) std::fprintf(stderr, "protect_bench: a derivation failed\n");
    return m;
}

// kivpfx over a folder of copies; nothing when it did not protect them all.
std::optional<Measure> Kivpfx(const fs::path& folder, const fs::path& passwordFile, unsigned jobs, int n) {
    const std::string jobsText = std::to_string(jobs);
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl(KIVPFX_PATH, "kivpfx", "protect", "--quiet", "--jobs", jobsText.c_str(), "--password-file",
              passwordFile.c_str(), folder.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return std::nullopt;
    Measure m;
    m.wall = std::chrono::duration<double>(Clock::now() - start).count();
    m.cpu = Cpu(usage);
    m.peakKb = usage.ru_maxrss;
    const int written = CountOutputs(folder);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || written != n) {
        std::fprintf(stderr, "protect_bench: kivpfx --jobs %u wrote %d of %d files (status %d)\n", jobs,
                     written, n, status);
        return std::nullopt;
    }
    return m;
}

std::optional<Measure> Window(const fs::path& folder, int n, Inside& inside) {
    AnswerYes prompts;
    kiv::forms::QtFontSystem fonts;
    kiv::Yield yield;
    kiv::main_window::Services services;
    services.prompts = &prompts;
    services.fonts = &fonts;
    const auto real = kiv::certificate::OpenSslCertificateFactory();
    services.certificates = [&]() -> std::unique_ptr<kiv::certificate::Certificate> {
        auto made = real();
        if (!made) return nullptr;
        return std::make_unique<TimedCertificate>(std::move(made), inside);
    };
    services.announceSaves = [](const std::string& password, std::size_t saves) {
        return kiv::certificate::AnnounceSaves(password, saves);
    };
    services.yield = &yield;
    QString error;
    auto window = kiv::main_window::frmmain::Create(std::move(services), &error);
    if (!window) {
        std::fprintf(stderr, "protect_bench: %s\n", qPrintable(error));
        return std::nullopt;
    }
    window->ShowWindow();
    for (int i = 0; i < n; ++i) {
        const QString name = QStringLiteral("file%1.pfx").arg(i);
        window->AddFileToList(QString::fromStdString((folder / name.toStdString()).string()), name);
    }
    window->Host().As<QLineEdit>(QStringLiteral("txtpass"), 0)->setText(kPassword);
    window->Host().As<QLineEdit>(QStringLiteral("txtpass"), 1)->setText(kPassword);
    const double cpuStart = CpuOf(RUSAGE_SELF);
    const auto start = Clock::now();
    window->cmdproceed_Click();
    Measure m;
    m.wall = std::chrono::duration<double>(Clock::now() - start).count();
    m.cpu = CpuOf(RUSAGE_SELF) - cpuStart;
    int ok = 0;
    for (int row = 1; row < window->Grid().Rows(); ++row)
        ok += window->Grid().TextMatrix(row, 3) == QLatin1String("OK");
    if (ok != n) {
        std::fprintf(stderr, "protect_bench: the window protected only %d of %d files (first status: %s)\n",
                     ok, n, qPrintable(window->Grid().TextMatrix(1, 3)));
        return std::nullopt;
    }
    return m;
}

std::optional<Measure> OpensslLoop(const fs::path& folder, int n) {
    const double cpuStart = CpuOf(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        const std::string base = (folder / ("file" + std::to_string(i))).string();
        if (!Run("openssl pkcs12 -in '" + base + ".pfx' -passin pass: -nodes -out '" + base +
                 ".pem' 2>/dev/null && openssl pkcs12 -export -in '" + base + ".pem' -out '" + base +
                 "_Password.Pfx' -passout pass:" + kPassword +
                 " -keypbe AES-256-CBC -certpbe AES-256-CBC -macalg sha256 -iter 10000 2>/dev/null && rm -f "
                 "'" +
                 base + ".pem'"))
            return std::nullopt;
    }
    Measure m;
    m.wall = std::chrono::duration<double>(Clock::now() - start).count();
    m.cpu = CpuOf(RUSAGE_CHILDREN) - cpuStart;
    return m;
}

void Row(const char* name, const Measure& m, int n, const Measure& floor) {
    std::printf("%-34s %9.2f %9.2f %9.2f\n", name, m.wall * 1000 / n, m.cpu * 1000 / n, m.wall / floor.wall);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    kiv::forms::InstallFontStandIns();
    int n = 200;
    int memoryFiles = 0;
    bool windowOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--files" && i + 1 < argc) {
            n = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--window-only") {
            windowOnly = true;
        } else if (arg == "--memory-files" && i + 1 < argc) {
            memoryFiles = std::max(1, std::atoi(argv[++i]));
        } else if (std::isdigit(static_cast<unsigned char>(arg[0]))) {
            n = std::max(1, std::atoi(arg.c_str()));
        } else {
            std::fprintf(stderr, "usage: protect_bench [--files N] [--memory-files M] [--window-only]\n");
            return 2;
        }
    }

    char pattern[] = "/tmp/kivpfx-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path dir = pattern;
    const fs::path source = dir / "source.pfx";
    const fs::path passwordFile = dir / "password";
    if (!MakeSource(dir, source)) return 1;
    std::FILE* pw = std::fopen(passwordFile.c_str(), "w");
    if (!pw) return 1;
    std::fprintf(pw, "%s\n", kPassword);
    std::fclose(pw);
    const unsigned cores = Cores();
    for (const char* folder : {"window", "cli1", "clin", "openssl"}) {
        if (!CopyFiles(source, dir / folder, n)) return 1;
    }
    double load[3] = {};
    getloadavg(load, 3);

    const std::vector<Derivation> input = InputDerivations(source);
    // The floor is the engine's own derivations; OpenSSL's calls, the floor before, for comparison.
    const Measure floor = Floor(n, cores, input, true);
    const Measure floorOne = Floor(n, 1, input, true);
    const Measure opensslFloor = Floor(n, cores, input, false);
    Inside inside;
    const auto window = Window(dir / "window", n, inside);
    if (windowOnly) {
        // For a profiler: the window run alone.
        if (window)
            std::printf("window run: %.2f ms a file (Load %.2f, Save %.2f)\n", window->wall * 1000 / n,
                        inside.load * 1000 / n, inside.save * 1000 / n);
        std::error_code ec;
        fs::remove_all(dir, ec);
        return window ? 0 : 1;
    }
    const auto one = Kivpfx(dir / "cli1", passwordFile, 1, n);
    const auto all = Kivpfx(dir / "clin", passwordFile, cores, n);
    // The same folder again: every output is opened with the password and compared with its source,
    // and every earlier output, found as a source, is told apart as already protected.
    const auto again = all ? Kivpfx(dir / "clin", passwordFile, cores, n) : std::nullopt;
    const auto openssl = OpensslLoop(dir / "openssl", n);
    if (!window || !one || !all || !again || !openssl) return 1;

    std::printf("files: %d (three-certificate chain, RSA 2048); cores: %u; load average at start: %.2f\n", n,
                cores, load[0]);
    std::printf("input's own derivations per file:");
    for (const Derivation& d : input) std::printf(" %s %d", d.mac ? "MAC" : "PBKDF2", d.iterations);
    std::printf("; per copy: PBKDF2 %d x2, MAC %d\n\n", kProtectionIterations, kProtectionIterations);
    std::printf("%-34s %9s %9s %9s\n", "", "wall ms", "CPU ms", "x floor");
    Row("floor (derivations alone)", floor, n, floor);
    Row("  the same on one thread", floorOne, n, floor);
    Row("  the same by OpenSSL's calls", opensslFloor, n, floor);
    Row("window run (Proceed)", *window, n, floor);
    const std::string jobsName = "kivpfx --jobs " + std::to_string(cores);
    Row("kivpfx --jobs 1", *one, n, floor);
    Row(jobsName.c_str(), *all, n, floor);
    Row(("  re-run, all done, " + jobsName.substr(7)).c_str(), *again, n, floor);
    Row("openssl pkcs12 loop", *openssl, n, floor);
    std::printf("\n");
    std::printf("openssl loop / window run:         %8.2f x\n", openssl->wall / window->wall);
    std::printf("openssl loop / %-19s %8.2f x\n", (jobsName + ":").c_str(), openssl->wall / all->wall);
    std::printf("kivpfx --jobs %u / --jobs 1 speed:  %8.2f x\n", cores, one->wall / all->wall);
    std::printf("window run, per file: Load %.2f ms, Save %.2f ms, the rest %.2f ms\n",
                inside.load * 1000 / n, inside.save * 1000 / n,
                (window->wall - inside.load - inside.save) * 1000 / n);
    std::printf("kivpfx peak memory, %d files:      %8.1f MiB (--jobs 1: %.1f MiB)\n", n,
                all->peakKb / 1024.0, one->peakKb / 1024.0);

    if (memoryFiles > 0) {
        if (!CopyFiles(source, dir / "memory", memoryFiles)) return 1;
        const auto many = Kivpfx(dir / "memory", passwordFile, cores, memoryFiles);
        if (!many) return 1;
        std::printf("kivpfx peak memory, %d files:    %8.1f MiB (%.2f ms per file)\n", memoryFiles,
                    many->peakKb / 1024.0, many->wall * 1000 / memoryFiles);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
