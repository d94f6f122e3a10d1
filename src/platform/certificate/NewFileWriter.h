#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <span>
#include <string>

#include "platform/certificate/Certificate.h"

namespace kiv::certificate {

// Given the bytes as they were read back from the new file; a failure abandons the file.
using WrittenFileCheck = std::function<CallResult(std::span<const unsigned char>)>;

// Writes `bytes` to a file that does not exist yet at `path`, with permission bits `mode`.
// The bytes go to a temporary file in the same folder first, are flushed to disk and checked, and
// only then get the final name, and only if that name is still free. Nothing is ever replaced: a
// name taken in the meantime gives targetExists. On failure no file is left behind.
CallResult WriteNewFile(const std::string& path, std::span<const unsigned char> bytes, mode_t mode,
                        const WrittenFileCheck& check);

}  // namespace kiv::certificate
