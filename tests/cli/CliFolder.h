#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempFolder.h"
#include "support/pkcs12/Pkcs12Maker.h"

namespace kiv::cli::testing {

// A fresh folder per test with test files made once per variant and copied under any name.
class CliFolderTest : public kiv::testing::TempFolderTest {
  protected:
    void SetUp() override { std::filesystem::create_directories(root_ + "/.made"); }

    // Writes a test file of `variant` at `relative` (folders made as needed).
    void Pfx(const std::string& relative,
             kiv::testing::PfxVariant variant = kiv::testing::PfxVariant::Pbes2Aes) {
        const std::string made = Path(".made/" + kiv::testing::VariantName(variant));
        if (!std::filesystem::exists(made)) {
            ASSERT_TRUE(kiv::testing::WritePfx(made, variant)) << kiv::testing::VariantName(variant);
        }
        std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
        std::filesystem::copy_file(made, Path(relative));
    }

    void Write(const std::string& relative, const std::string& bytes) const { temp_.Write(relative, bytes); }

    std::string PasswordFile(const std::string& content) const {
        const std::string path = Path(".made/password" + std::to_string(++passwordFiles_));
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
        return path;
    }

    // Every file below `relative`, as paths relative to it, .made excluded.
    std::set<std::string> Tree(const std::string& relative = "") const { return temp_.Tree(relative); }

    // The report lines STATUS<TAB>PATH as (status, path) pairs in order.
    static std::vector<std::pair<std::string, std::string>> Lines(const std::string& out) {
        std::vector<std::pair<std::string, std::string>> lines;
        std::istringstream in(out);
        for (std::string line; std::getline(in, line);) {
            const std::size_t tab = line.find('\t');
            if (tab == std::string::npos) {
                lines.emplace_back(line, "");
            } else {
                lines.emplace_back(line.substr(0, tab), line.substr(tab + 1));
            }
        }
        return lines;
    }

    const std::string root_ = Root();
    mutable int passwordFiles_ = 0;
};

}  // namespace kiv::cli::testing
