#include "snapshot/SnapshotFileIo.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace tamsin {
namespace {

std::vector<std::uint8_t> pattern(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 31 % 251);
    return bytes;
}

TEST(FileReadBuffer, HandsOutTheFileInPiecesOfEverySizeUpToItsCapacity)
{
    test::TempDir dir;
    const auto path = (dir / "f").string();
    const std::vector<std::uint8_t> file = pattern(1000);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), 1000);

    // Pieces span buffer refills at every offset (16), or few (300).
    for (const std::size_t capacity : {16, 300}) {
        FileReadBuffer in(capacity);
        ASSERT_TRUE(in.open(path));
        std::vector<std::uint8_t> taken;
        for (std::size_t n = 1; in.remaining() >= n; n = n % 16 + 1) {
            const std::uint8_t* piece = in.take(n);
            ASSERT_NE(piece, nullptr);
            taken.insert(taken.end(), piece, piece + n);
            if (taken.size() == 500) {
                std::string text;  // longer than the buffer
                ASSERT_TRUE(in.takeInto(text, 40));
                taken.insert(taken.end(), text.begin(), text.end());
            }
        }
        const std::size_t left = in.remaining();
        EXPECT_EQ(in.take(left + 1), nullptr);  // past the end: refused, not a read failure
        EXPECT_FALSE(in.failed());
        ASSERT_NE(in.take(left), nullptr);
        EXPECT_EQ(in.remaining(), 0u);
        EXPECT_EQ(taken.size() + left, file.size());
        EXPECT_TRUE(std::equal(taken.begin(), taken.end(), file.begin()));
    }

    FileReadBuffer folder;
    EXPECT_FALSE(folder.open(dir.path().string()));
}

TEST(FileReadBuffer, AFileCutShortAfterOpeningIsAReadFailure)
{
    test::TempDir dir;
    const auto path = (dir / "f").string();
    const std::vector<std::uint8_t> file = pattern(1000);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), 1000);

    FileReadBuffer in(300);
    ASSERT_TRUE(in.open(path));
    ASSERT_EQ(::truncate(path.c_str(), 500), 0);
    std::size_t taken = 0;
    while (in.take(100))
        taken += 100;
    EXPECT_LE(taken, 500u);  // what a buffer held whole before the cut
    EXPECT_TRUE(in.failed());
    EXPECT_EQ(in.remaining(), 1000u - taken);  // the size when opened, less what was taken
}

TEST(FileWriteBuffer, WritesEveryByteOnceAndKeepsTheFirstError)
{
    test::TempDir dir;
    const auto path = (dir / "f").string();
    const std::vector<std::uint8_t> expected = pattern(100);
    {
        FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        FileWriteBuffer out(fd.get(), 10);
        std::size_t at = 0;
        for (std::size_t n = 1; at + n <= 60; at += n, n = n % 10 + 1)
            std::copy_n(expected.begin() + at, n, out.next(n).begin());
        out.append(std::string_view(reinterpret_cast<const char*>(expected.data() + at), 100 - at));
        EXPECT_EQ(out.flush(), 0);
    }
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {}), expected);

    FileDescriptor readOnly(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    FileWriteBuffer out(readOnly.get(), 10);
    out.append(std::string(25, 'x'));
    EXPECT_EQ(out.error(), EBADF);
    out.next(4);
    EXPECT_EQ(out.flush(), EBADF);
}

} // namespace
} // namespace tamsin
