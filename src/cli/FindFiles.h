#pragma once

#include <string>
#include <vector>

#include "platform/filesystem/FileSystem.h"

namespace kiv::cli {

struct FoundFiles {
    std::vector<std::string> files;       // in the order found
    std::vector<std::string> problems;    // arguments that name neither a folder nor a .pfx file
    std::vector<std::string> unreadable;  // folders that could not be read through: files may be missing
    bool interrupted = false;
};

// Turns the command line's paths into the list of files to work on, as the window's list would
// hold them: a folder is walked as the search walks it (its own .pfx files before its subfolders,
// any letter case of the extension, loops guarded); a file is taken when its name ends in ".pfx" in
// any letter case, or when it does not exist yet under such a name (it is then reported as not
// found); a path already listed is not listed again (engine::SameListedFile). With `anyFileName`, a
// file named on the command line is taken whatever its name.
FoundFiles FindFiles(const std::vector<std::string>& paths, filesystem::FileSystem& files,
                     bool anyFileName = false);

}  // namespace kiv::cli
