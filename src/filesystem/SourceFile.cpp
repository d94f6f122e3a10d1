#include "filesystem/SourceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kiv::filesystem {
namespace {

SourceRead Unreadable(std::string description) {
    return {SourceRead::Problem::Unreadable, std::move(description)};
}

SourceRead NotPkcs12(std::string description) {
    return {SourceRead::Problem::NotPkcs12, std::move(description)};
}

}  // namespace

SourceRead ReadSourceFile(FileSystem& files, const std::string& path, SourceFile& file,
                          const std::function<unsigned char*(std::size_t size)>& room, bool followLinks) {
    const SystemCalls& calls = files.Calls();
    // O_NONBLOCK: a FIFO or device under a .pfx name must not stall the run.
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW);
    const int fd = calls.open(path.c_str(), flags, 0);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) return Unreadable("The file does not exist.");
        if (error == ELOOP && !followLinks) return Unreadable("The path is a symbolic link.");
        // A socket or a loop of links fails to open; say what is there, as for a FIFO or a device.
        if (std::string what = WhyNotAFileAt(path); !what.empty()) return Unreadable(what);
        return Unreadable("The file cannot be opened: " + SystemMessage(error) + ".");
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return Unreadable("The file cannot be examined: " + SystemMessage(errno) + ".");
    if (!S_ISREG(st.st_mode)) return Unreadable(WhyNotAFile(st.st_mode));
    if (st.st_size == 0) return NotPkcs12("The file is empty.");
    if (st.st_size > kLargestSource) {
        return NotPkcs12("The file is too large to be a PKCS#12 file (" + std::to_string(st.st_size) +
                         " bytes).");
    }
    // One byte of room tells a file that grew since fstat.
    const std::size_t size = static_cast<std::size_t>(st.st_size) + 1;
    unsigned char* bytes = room(size);
    const std::size_t done =
        Fully(size, [&](std::size_t at) { return calls.read(fd, bytes + at, size - at); });
    if (done < size && errno != 0)
        return Unreadable("The file cannot be read: " + SystemMessage(errno) + ".");
    // Fewer or more bytes than fstat counted: the file changed under us, and what came is not all of it.
    if (done != static_cast<std::size_t>(st.st_size))
        return Unreadable("The file changed while it was read.");
    file.size = done;
    // The copy is never wider than the source, and never executable; the writer narrows it by the umask.
    file.mode = st.st_mode & 0666;
    file.group = st.st_gid;
    return {};
}

}  // namespace kiv::filesystem
