#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/file.h"

namespace kestrel::platform {
namespace {

std::string ScratchPath(const char* name) {
    return ::testing::TempDir() + "kestrel_platform_" + std::to_string(::getpid()) + "_" + name;
}

TEST(File, ReadSeekAndShortReadAtTheEnd) {
    const std::string path = ScratchPath("small");
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fputs("0123456789", f);
        std::fclose(f);
    }
    File file;
    ASSERT_TRUE(file.Open(path.c_str()));
    EXPECT_EQ(file.Size(), 10);
    char buf[16] = {};
    EXPECT_EQ(file.Read(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(file.Seek(-2, File::Origin::Current), 2);
    EXPECT_EQ(file.Read(buf, 16), 8) << "short only at the end";
    EXPECT_EQ(file.Read(buf, 16), 0);
    EXPECT_EQ(file.Seek(-1), -1) << "a position before the start is refused";
    EXPECT_EQ(file.Tell(), 10);
    EXPECT_EQ(file.ReadAt(7, buf, 16), 3);
    EXPECT_EQ(std::string(buf, 3), "789");
    EXPECT_EQ(file.Tell(), 10) << "ReadAt leaves the position alone";
    std::remove(path.c_str());
}

TEST(File, RefusesWhatCannotBeRead) {
    File file;
    EXPECT_FALSE(file.Open(nullptr));
    EXPECT_FALSE(file.Open(""));
    EXPECT_FALSE(file.Open("/nonexistent/kestrel/file.h64"));
    EXPECT_FALSE(file.Open(::testing::TempDir().c_str())) << "a directory is not a recording";
    char c;
    EXPECT_EQ(file.Read(&c, 1), -1);
    EXPECT_EQ(file.Seek(0), -1);
}

TEST(File, OffsetsBeyondFourGiBInASparseFile) {
    const std::string path = ScratchPath("sparse");
    const int64_t far = (int64_t{5} << 30) + 12345;
    {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "KX", 2, far), 2);
        ::close(fd);
    }
    File file;
    ASSERT_TRUE(file.Open(path.c_str(), File::Access::Random));
    EXPECT_EQ(file.Size(), far + 2);
    EXPECT_EQ(file.Seek(far), far);
    char buf[4] = {};
    EXPECT_EQ(file.Read(buf, 4), 2);
    EXPECT_EQ(std::string(buf, 2), "KX");
    EXPECT_EQ(file.Seek(-2, File::Origin::End), far);
    EXPECT_EQ(file.ReadAt(far + 1, buf, 1), 1);
    EXPECT_EQ(buf[0], 'X');
    std::remove(path.c_str());
}

}  // namespace
}  // namespace kestrel::platform
