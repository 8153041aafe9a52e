#include "platform/file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

static_assert(sizeof(off_t) == 8, "recordings beyond 2 GiB need 64-bit file offsets");

namespace kestrel::platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool File::Open(const char* path, Access access) {
    Close();
    if (path == nullptr || path[0] == '\0') return false;
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    ::posix_fadvise(fd, 0, 0, access == Access::Random ? POSIX_FADV_RANDOM : POSIX_FADV_SEQUENTIAL);
    fd_ = fd;
    return true;
}

void File::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

namespace {

// Reads until `size` bytes, the end of the file or an error; `read_some(out, count, done)`
// is one system call. Bytes already read are reported even when a later call fails.
template <typename ReadSome>
int64_t ReadFully(void* buffer, size_t size, ReadSome read_some) {
    auto* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = read_some(out + done, size - done, done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? static_cast<int64_t>(done) : -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

}  // namespace

int64_t File::Read(void* buffer, size_t size) {
    if (fd_ < 0) return -1;
    return ReadFully(buffer, size, [this](unsigned char* out, size_t count, size_t) { return ::read(fd_, out, count); });
}

int64_t File::ReadAt(int64_t offset, void* buffer, size_t size) const {
    if (fd_ < 0 || offset < 0) return -1;
    return ReadFully(buffer, size, [this, offset](unsigned char* out, size_t count, size_t done) {
        return ::pread(fd_, out, count, static_cast<off_t>(offset + static_cast<int64_t>(done)));
    });
}

int64_t File::Seek(int64_t offset, Origin origin) {
    if (fd_ < 0) return -1;
    int whence = origin == Origin::Begin ? SEEK_SET : origin == Origin::Current ? SEEK_CUR : SEEK_END;
    off_t pos = ::lseek(fd_, static_cast<off_t>(offset), whence);
    return pos < 0 ? -1 : static_cast<int64_t>(pos);
}

int64_t File::Tell() const {
    if (fd_ < 0) return -1;
    off_t pos = ::lseek(fd_, 0, SEEK_CUR);
    return pos < 0 ? -1 : static_cast<int64_t>(pos);
}

int64_t File::Size() const {
    if (fd_ < 0) return -1;
    struct stat st;
    if (::fstat(fd_, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

}  // namespace kestrel::platform
