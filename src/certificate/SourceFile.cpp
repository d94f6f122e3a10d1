#include "certificate/SourceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "certificate/SystemCalls.h"

namespace kiv::certificate {
namespace {

std::string SystemMessage(int error) {
    return std::error_code(error, std::generic_category()).message();
}

SourceRead Unreadable(std::string description) {
    return {SourceRead::Problem::Unreadable, std::move(description)};
}

SourceRead NotPkcs12(std::string description) {
    return {SourceRead::Problem::NotPkcs12, std::move(description)};
}

}  // namespace

SourceRead ReadSourceFile(const std::string& path, SourceFile& file, bool followLinks) {
    // O_NONBLOCK: a FIFO or device under a .pfx name must not stall the run.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW);
    const int fd = System().open(path.c_str(), flags, 0);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) return Unreadable("The file does not exist.");
        if (error == ELOOP && !followLinks) return Unreadable("The path is a symbolic link.");
        return Unreadable("The file cannot be opened: " + SystemMessage(error) + ".");
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return Unreadable("The file cannot be examined: " + SystemMessage(errno) + ".");
    if (S_ISDIR(st.st_mode)) return Unreadable("The path names a folder, not a file.");
    if (!S_ISREG(st.st_mode)) return Unreadable("The path does not name a regular file.");
    if (st.st_size == 0) return NotPkcs12("The file is empty.");
    if (st.st_size > kLargestSource) {
        return NotPkcs12("The file is too large to be a PKCS#12 file (" + std::to_string(st.st_size) +
                         " bytes).");
    }
    // One byte of room tells a file that grew since fstat.
    Secret& bytes = file.bytes;
    bytes.Resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = System().read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Unreadable("The file cannot be read: " + SystemMessage(errno) + ".");
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    // Fewer or more bytes than fstat counted: the file changed under us, and what came is not all of it.
    if (done != static_cast<std::size_t>(st.st_size))
        return Unreadable("The file changed while it was read.");
    bytes.Resize(done);
    // The copy is never wider than the source, and never executable; the writer narrows it by the umask.
    file.mode = st.st_mode & 0666;
    file.group = st.st_gid;
    return {};
}

}  // namespace kiv::certificate
