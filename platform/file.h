// Read-only files with 64-bit offsets: the play loop's descriptor and the index builder's handle.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::platform {

class File {
public:
    // Hint for the kernel's read-ahead: the play loop reads on, the index builder hops.
    enum class Access { Sequential, Random };
    enum class Origin { Begin, Current, End };

    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens path read-only; closes whatever this object held before.
    bool Open(const char* path, Access access = Access::Sequential);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Reads up to size bytes at the file position; fewer only at the end of the file.
    // Returns the byte count, or -1 on a read error.
    int64_t Read(void* buffer, size_t size);
    // The same at an absolute offset, leaving the file position alone.
    int64_t ReadAt(int64_t offset, void* buffer, size_t size) const;
    // Moves the file position; returns the new position, or -1 (a target below 0 is refused).
    int64_t Seek(int64_t offset, Origin origin = Origin::Begin);
    int64_t Tell() const;
    int64_t Size() const;

private:
    int fd_ = -1;
};

}  // namespace kestrel::platform
