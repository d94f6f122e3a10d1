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
    std::set<std::string> Entries() const { return temp_.Tree(); }

    std::unique_ptr<Certificate> Make(const SaveOptions& options = {}) {
        return OpenSslCertificateFactory(options)(*files_);
    }

    const std::string folder_ = Root();
    const std::unique_ptr<filesystem::FileSystem> files_ = filesystem::CreateLocalFileSystem();
};

}  // namespace kiv::certificate::testing
