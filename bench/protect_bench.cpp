// Protecting N password-less files through the Proceed button's own code, against the same work
// done with the openssl command line. Prints milliseconds per file, their ratio and the share of our
// time spent outside the certificate calls.
//   protect_bench [N]   (default 200)
#include <QApplication>
#include <QLineEdit>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "main_window/frmmain.h"
#include "platform/forms/FontStandIns.h"
#include "platform/forms/QtFontSystem.h"
#include "platform/grid/FlexGrid.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kPassword = "Bench-Password-1";

// Every question answered Yes, every dialog cancelled: the run goes ahead on its own.
class AnswerYes final : public kiv::prompts::Prompts {
public:
    kiv::prompts::Answer ShowMessage(QWidget*, const kiv::prompts::Message&) override { return kiv::prompts::Answer::Yes; }
    std::optional<QString> OpenFile(QWidget*, const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> ChooseFolder(QWidget*, const QString&) override { return std::nullopt; }
};

// Adds up the time spent inside Load and Save.
class TimedCertificate final : public kiv::certificate::Certificate {
public:
    TimedCertificate(std::unique_ptr<kiv::certificate::Certificate> inner, double& seconds)
        : inner_(std::move(inner)), seconds_(seconds) {}
    kiv::certificate::CallResult Load(const std::string& p, const std::string& w, int f, int l) override {
        const auto start = Clock::now();
        auto result = inner_->Load(p, w, f, l);
        seconds_ += std::chrono::duration<double>(Clock::now() - start).count();
        return result;
    }
    kiv::certificate::CallResult Save(const std::string& p, const std::string& w, int t, int i) override {
        const auto start = Clock::now();
        auto result = inner_->Save(p, w, t, i);
        seconds_ += std::chrono::duration<double>(Clock::now() - start).count();
        return result;
    }

private:
    std::unique_ptr<kiv::certificate::Certificate> inner_;
    double& seconds_;
};

bool Run(const std::string& command) {
    if (std::system(command.c_str()) == 0) return true;
    std::fprintf(stderr, "protect_bench: failed: %s\n", command.c_str());
    return false;
}

// A root, an intermediate and a leaf with its key, exported without a password.
bool MakeSource(const fs::path& dir, const fs::path& pfx) {
    const std::string d = dir.string();
    const std::string quiet = " >/dev/null 2>&1";
    return Run("cd '" + d + "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.crt -days 30 "
               "-subj /CN=Bench-Root -addext basicConstraints=critical,CA:TRUE" + quiet) &&
           Run("cd '" + d + "' && openssl req -newkey rsa:2048 -nodes -keyout int.key -out int.csr -subj /CN=Bench-Int" + quiet) &&
           Run("cd '" + d + "' && printf 'basicConstraints=critical,CA:TRUE\\n' > ca.ext && openssl x509 -req -in int.csr "
               "-CA root.crt -CAkey root.key -CAcreateserial -out int.crt -days 30 -extfile ca.ext" + quiet) &&
           Run("cd '" + d + "' && openssl req -newkey rsa:2048 -nodes -keyout leaf.key -out leaf.csr -subj /CN=Bench-Leaf" + quiet) &&
           Run("cd '" + d + "' && openssl x509 -req -in leaf.csr -CA int.crt -CAkey int.key -CAcreateserial -out leaf.crt -days 30" + quiet) &&
           Run("cd '" + d + "' && cat int.crt root.crt > chain.crt && openssl pkcs12 -export -inkey leaf.key -in leaf.crt "
               "-certfile chain.crt -name bench -passout pass: -out '" + pfx.string() + "'" + quiet);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    kiv::forms::InstallFontStandIns();
    const int n = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    char pattern[] = "/tmp/kivpfx-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const fs::path dir = pattern;
    const fs::path ours = dir / "ours", theirs = dir / "theirs";
    fs::create_directories(ours);
    fs::create_directories(theirs);
    const fs::path source = dir / "source.pfx";
    if (!MakeSource(dir, source)) return 1;
    for (int i = 0; i < n; ++i) {
        const std::string name = "file" + std::to_string(i) + ".pfx";
        fs::copy_file(source, ours / name);
        fs::copy_file(source, theirs / name);
    }

    // Ours: the main window's Proceed over the listed files, grid and yields included.
    AnswerYes prompts;
    kiv::forms::QtFontSystem fonts;
    kiv::Yield yield;
    double inside = 0;
    kiv::main_window::Services services;
    services.prompts = &prompts;
    services.fonts = &fonts;
    const auto real = kiv::certificate::OpenSslCertificateFactory();
    services.certificates = [&]() -> std::unique_ptr<kiv::certificate::Certificate> {
        auto made = real();
        if (!made) return nullptr;
        return std::make_unique<TimedCertificate>(std::move(made), inside);
    };
    services.yield = &yield;
    QString error;
    auto window = kiv::main_window::frmmain::Create(std::move(services), &error);
    if (!window) {
        std::fprintf(stderr, "protect_bench: %s\n", qPrintable(error));
        return 1;
    }
    window->ShowWindow();
    for (int i = 0; i < n; ++i) {
        const QString name = QStringLiteral("file%1.pfx").arg(i);
        window->AddFileToList(QString::fromStdString((ours / name.toStdString()).string()), name);
    }
    window->Host().As<QLineEdit>(QStringLiteral("txtpass"), 0)->setText(kPassword);
    window->Host().As<QLineEdit>(QStringLiteral("txtpass"), 1)->setText(kPassword);
    const auto ourStart = Clock::now();
    window->cmdproceed_Click();
    const double ourSeconds = std::chrono::duration<double>(Clock::now() - ourStart).count();
    int ok = 0;
    for (int row = 1; row < window->Grid().Rows(); ++row) ok += window->Grid().TextMatrix(row, 3) == QLatin1String("OK");
    if (ok != n) {
        std::fprintf(stderr, "protect_bench: only %d of %d files were protected (first status: %s)\n", ok, n,
                     qPrintable(window->Grid().TextMatrix(1, 3)));
        return 1;
    }

    // Theirs: the command line, same algorithms and iteration counts.
    const auto theirStart = Clock::now();
    for (int i = 0; i < n; ++i) {
        const std::string in = (theirs / ("file" + std::to_string(i) + ".pfx")).string();
        const std::string out = (theirs / ("file" + std::to_string(i) + "_Password.Pfx")).string();
        const std::string pem = (theirs / ("file" + std::to_string(i) + ".pem")).string();
        if (!Run("openssl pkcs12 -in '" + in + "' -passin pass: -nodes -out '" + pem + "' 2>/dev/null && "
                 "openssl pkcs12 -export -in '" + pem + "' -out '" + out + "' -passout pass:" + kPassword +
                 " -keypbe AES-256-CBC -certpbe AES-256-CBC -macalg sha256 -iter 10000 2>/dev/null && rm -f '" + pem + "'"))
            return 1;
    }
    const double theirSeconds = std::chrono::duration<double>(Clock::now() - theirStart).count();

    std::printf("files: %d (three-certificate chain, RSA 2048)\n", n);
    std::printf("ours (Proceed, grid and yields):  %8.2f ms per file\n", ourSeconds * 1000 / n);
    std::printf("openssl pkcs12 command line:      %8.2f ms per file\n", theirSeconds * 1000 / n);
    std::printf("ratio (command line / ours):      %8.2f x\n", theirSeconds / ourSeconds);
    std::printf("our time outside Load and Save:   %8.2f %%\n", 100.0 * (ourSeconds - inside) / ourSeconds);
    window.reset();
    fs::remove_all(dir);
    return 0;
}
