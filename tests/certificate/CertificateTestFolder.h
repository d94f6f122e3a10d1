#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "certificate/Certificate.h"
#include "support/TempFolder.h"

namespace kiv::certificate::testing {

using kiv::testing::Mode;
using kiv::testing::ReadFile;
using kiv::testing::WriteFile;

// A fresh folder per test, removed afterwards.
class CertificateFolderTest : public kiv::testing::TempFolderTest {
  protected:
    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    static std::unique_ptr<Certificate> Make() { return OpenSslCertificateFactory()(); }

    const std::string folder_ = Root();
};

}  // namespace kiv::certificate::testing
