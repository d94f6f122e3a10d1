#pragma once

#include <string>
#include <string_view>

#include "filesystem/FileSystem.h"

namespace kiv::filesystem {

// A dialog decodes names as UTF-8 and shows each byte that is not UTF-8 as U+FFFD, so the path it
// hands back can name nothing on disk. Finds the path on disk that `shown` stands for: a component
// holding U+FFFD is matched against its folder's real entries (subfolders, or files for the last
// component unless `folder`), where a run of such bytes matches a run of U+FFFD. Gives the bytes of
// `shown` as they are when it exists, holds no U+FFFD, or a component matches no entry or several.
std::string FindShownPath(FileSystem* files, std::u16string_view shown, bool folder);

}  // namespace kiv::filesystem
