#include "common/file_io.hpp"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvel {
namespace {

Error os_error(int code) { return Error::format("{} (os error {})", std::strerror(code), code); }

// Closes the descriptor on every path out of read_whole_file.
struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

Result<std::vector<u8>> read_whole_file(const std::string& path) {
    FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return os_error(errno);

    struct stat info {};
    if (::fstat(file.fd, &info) != 0) return os_error(errno);
    if (S_ISDIR(info.st_mode)) return os_error(EISDIR);

    std::vector<u8> bytes;
    // The size is only a hint: the file may change while it is read, and some
    // special files report 0.
    if (info.st_size > 0) bytes.reserve(static_cast<size_t>(info.st_size));
    u8 chunk[64 * 1024];
    for (;;) {
        ssize_t got = ::read(file.fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            return os_error(errno);
        }
        if (got == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

namespace {

Status write_all(const std::string& path, std::span<const u8> bytes, bool sync) {
    FileDescriptor file{::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)};
    if (file.fd < 0) return os_error(errno);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = ::write(file.fd, bytes.data() + done, bytes.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return os_error(errno);
        }
        done += static_cast<size_t>(put);
    }
    if (sync && ::fsync(file.fd) != 0) return os_error(errno);
    const int fd = file.fd;
    file.fd = -1;
    if (::close(fd) != 0) return os_error(errno);
    return {};
}

}  // namespace

Status write_whole_file(const std::string& path, std::span<const u8> bytes) { return write_all(path, bytes, false); }

Status replace_file(const std::string& path, std::span<const u8> bytes) {
    const std::string temporary = path + ".tmp";
    if (Status written = write_all(temporary, bytes, true); !written) {
        ::unlink(temporary.c_str());
        return written;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary.c_str());
        return os_error(code);
    }
    return {};
}

}  // namespace tarvel
