#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace kiv::testing {

// A fresh folder under the system's temporary folder, removed with everything in it. The one
// temporary folder of the whole suite: fixtures and helpers build on it.
class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kivpfx-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        root_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::permissions(root_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(root_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

    // Writes `bytes` at `relative`, making its folders.
    void Write(const std::string& relative, const std::string& bytes) const {
        std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
        std::ofstream(Path(relative), std::ios::binary | std::ios::trunc) << bytes;
    }

    // Every entry below `relative`, as paths relative to it; names starting with `skip` are left out.
    std::set<std::string> Tree(const std::string& relative = "", const std::string& skip = ".made") const {
        std::set<std::string> names;
        const std::string base = relative.empty() ? root_ : Path(relative);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(base)) {
            const std::string name = std::filesystem::relative(entry.path(), base).string();
            if (!skip.empty() && name.rfind(skip, 0) == 0) continue;
            names.insert(name);
        }
        return names;
    }

  private:
    std::string root_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Permission bits of `path`, 0 when it cannot be read.
inline unsigned Mode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Sets the process umask while it lives.
class UmaskScope {
  public:
    explicit UmaskScope(mode_t mask) : previous_(::umask(mask)) {}
    ~UmaskScope() { ::umask(previous_); }

  private:
    mode_t previous_;
};

// A test case with a fresh folder of its own.
class TempFolderTest : public ::testing::Test {
  protected:
    std::string Path(const std::string& relative) const { return temp_.Path(relative); }
    const std::string& Root() const { return temp_.Root(); }

    TempFolder temp_;
};

}  // namespace kiv::testing
