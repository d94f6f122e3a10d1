// Search Files over a large tree through the real main window and search window, against
// `find DIR -iname '*.pfx'` on the same tree. Prints both times, their ratio, and the time of a
// second search of the same tree, when every file found is already listed.
//   search_bench [FILES [PFX]]   (default 100000 files, 20000 of them .pfx)
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QScrollBar>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "main_window/frmmain.h"
#include "platform/forms/FontStandIns.h"
#include "platform/forms/QtFontSystem.h"
#include "platform/grid/FlexGrid.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The folder chooser always picks the tree; nothing else is ever asked.
class ChooseTree final : public kiv::prompts::Prompts {
  public:
    explicit ChooseTree(QString folder) : folder_(std::move(folder)) {}
    kiv::prompts::Answer ShowMessage(QWidget*, const kiv::prompts::Message& message) override {
        std::fprintf(stderr, "search_bench: unexpected message: %s\n", qPrintable(message.text));
        return kiv::prompts::Answer::No;
    }
    std::optional<QString> OpenFile(QWidget*, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> ChooseFolder(QWidget*, const QString&) override { return folder_; }

  private:
    QString folder_;
};

void Touch(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) ::close(fd);
}

// Three levels of ten folders each, files spread over every folder, one in `files / pfx` a .pfx
// in a rotating letter case.
void BuildTree(const fs::path& root, int files, int pfx) {
    std::vector<fs::path> folders{root};
    for (int a = 0; a < 10; ++a) {
        const fs::path level1 = root / ("dept" + std::to_string(a));
        folders.push_back(level1);
        for (int b = 0; b < 10; ++b) {
            const fs::path level2 = level1 / ("team" + std::to_string(b));
            folders.push_back(level2);
            for (int c = 0; c < 10; ++c) folders.push_back(level2 / ("user" + std::to_string(c)));
        }
    }
    for (const auto& folder : folders) fs::create_directories(folder);
    static const char* const kCases[] = {".pfx", ".PFX", ".Pfx", ".pFx"};
    const int every = pfx > 0 ? files / pfx : files + 1;
    int made = 0;
    for (int i = 0; i < files; ++i) {
        const fs::path& folder = folders[i % folders.size()];
        const bool isPfx = made < pfx && i % every == 0;
        std::string name =
            "file" + std::to_string(i) + (isPfx ? kCases[made % 4] : (i % 3 ? ".txt" : ".pfx.bak"));
        if (isPfx) ++made;
        Touch((folder / name).string());
    }
}

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    kiv::forms::InstallFontStandIns();
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int pfx = argc > 2 ? std::atoi(argv[2]) : 20000;

    char pattern[] = "/tmp/kivpfx-search-bench-XXXXXX";
    if (!::mkdtemp(pattern)) {
        std::perror("search_bench: mkdtemp");
        return 1;
    }
    const fs::path root = pattern;
    auto start = Clock::now();
    BuildTree(root, files, pfx);
    std::printf("tree: %d files (%d .pfx) in 1111 folders, built in %.2f s\n", files, pfx, Seconds(start));

    ChooseTree prompts(QString::fromStdString(root.string()));
    kiv::forms::QtFontSystem fonts;
    kiv::Yield yield;
    kiv::main_window::Services services;
    services.prompts = &prompts;
    services.fonts = &fonts;
    services.certificates = kiv::certificate::OpenSslCertificateFactory();
    services.yield = &yield;
    services.endProgram = [] {};
    const auto local = kiv::filesystem::CreateLocalFileSystem();
    services.fileSystem = [&] { return local.get(); };
    QString error;
    auto window = kiv::main_window::frmmain::Create(std::move(services), &error);
    int status = 0;
    if (!window) {
        std::fprintf(stderr, "search_bench: no main window: %s\n", qPrintable(error));
        status = 1;
    } else {
        window->ShowWindow();
        QApplication::processEvents();

        start = Clock::now();
        window->cmdsearch_Click();
        const double first = Seconds(start);
        const int listed = window->Grid().Rows() - 1;
        const int firstYields = yield.Count();

        start = Clock::now();
        const std::string command = "find '" + root.string() + "' -iname '*.pfx'";
        int found = 0;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char line[4096];
            while (std::fgets(line, sizeof line, pipe)) ++found;
            ::pclose(pipe);
        }
        const double find = Seconds(start);

        start = Clock::now();
        window->cmdsearch_Click();
        const double second = Seconds(start);
        const int secondRows = window->Grid().Rows() - 1;

        start = Clock::now();
        window->FitListColumns();
        const double fit = Seconds(start);

        // The full list on screen: scrolling page by page, and deleting one row with renumbering.
        kiv::grid::FlexGrid& grid = window->Grid();
        QScrollBar* bar = grid.verticalScrollBar();
        constexpr int kPages = 100;
        start = Clock::now();
        for (int page = 0; page < kPages; ++page) {
            bar->setValue(bar->maximum() * page / (kPages - 1));
            grid.viewport()->repaint();
        }
        const double scroll = Seconds(start) / kPages;
        start = Clock::now();
        grid.RemoveItem(1);
        window->RenumberFileList();
        window->FitListColumns();
        const double remove = Seconds(start);

        std::printf("search: %d rows listed, %d yields, %.3f s\n", listed, firstYields, first);
        std::printf("find -iname '*.pfx': %d paths, %.3f s\n", found, find);
        std::printf("ratio search / find: %.1f\n", find > 0 ? first / find : 0.0);
        std::printf("second search (all listed): %d rows, %.3f s\n", secondRows, second);
        std::printf("fitting the columns again, nothing changed: %.4f s\n", fit);
        std::printf("scrolling the full list: %.2f ms a page\n", scroll * 1000);
        std::printf("deleting row 1, renumbering and fitting: %.3f s\n", remove);
        if (listed != pfx || found != pfx || secondRows != pfx) {
            std::fprintf(stderr, "search_bench: expected %d .pfx files everywhere\n", pfx);
            status = 1;
        }
    }
    window.reset();
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return status;
}
