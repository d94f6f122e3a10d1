#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <span>
#include <string>

#include "certificate/Certificate.h"

namespace kiv::certificate {

// Given the bytes as they were read back from the new file; a failure abandons the file.
using WrittenFileCheck = std::function<CallResult(std::span<const unsigned char>)>;

struct NewFileOptions {
    gid_t group = static_cast<gid_t>(-1);  // taken when the user may set it; -1 leaves the group as created
    bool anonymousTemporary = true;        // false: always the named temporary file (as without O_TMPFILE)
};

// The file writer: writes `bytes` to a file that does not exist yet at `path`, with permission bits
// `mode` narrowed by the process umask. The bytes go to a nameless temporary file in the same folder
// (a named one where the file system cannot make nameless files), are flushed to disk, read back
// through the same descriptor and checked, and only then get the final name, and only if that name
// is still free; then the folder is flushed, and a folder that cannot be flushed takes the name back
// and fails. Nothing is ever replaced: a name taken in the meantime gives targetExists. On failure,
// and when the process dies, no file is left behind (a named temporary file only survives a kill,
// not RemoveUnfinishedFiles).
CallResult WriteNewFile(const std::string& path, std::span<const unsigned char> bytes, mode_t mode,
                        const WrittenFileCheck& check, const NewFileOptions& options = {});

// Removes every file WriteNewFile is writing under a name (the named temporary file, or the output
// itself where neither renaming without replacing nor linking is possible), for a program that is
// about to end at once; each write in progress then fails. Safe to call from a signal handler.
void RemoveUnfinishedFiles() noexcept;

// What WriteNewFile tests before it writes, and that the folder takes new files; writes nothing.
// Answers as WriteNewFile would: targetExists for a name that is taken, its description otherwise.
CallResult CheckNewFile(const std::string& path);

// The process umask, read without changing it.
mode_t ProcessUmask();

}  // namespace kiv::certificate
