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

// Read on the caller's thread, and read ahead on a thread of its own.
constexpr std::uint64_t kModes[] = {UINT64_MAX, 0};

TEST(FileReadBuffer, HandsOutTheFileInPiecesOfEverySizeUpToItsCapacity)
{
    test::TempDir dir;
    const auto path = (dir / "f").string();
    const std::vector<std::uint8_t> file = pattern(1000);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), 1000);

    // Pieces span buffer refills at every offset (16), or few (300).
    for (const std::uint64_t readAheadFrom : kModes) {
        for (const std::size_t capacity : {16, 300}) {
            SCOPED_TRACE(testing::Message() << "read ahead from " << readAheadFrom << ", capacity " << capacity);
            FileReadBuffer in(capacity);
            ASSERT_TRUE(in.open(path, readAheadFrom));
            EXPECT_NE(in.take(0), nullptr);  // nothing taken yet, and no read needed
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
    }

    FileReadBuffer folder;
    EXPECT_FALSE(folder.open(dir.path().string()));
}

TEST(FileReadBuffer, AFileCutShortAfterOpeningIsAReadFailure)
{
    test::TempDir dir;
    const auto path = (dir / "f").string();
    const std::vector<std::uint8_t> file = pattern(1000);
    for (const std::uint64_t readAheadFrom : kModes) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), 1000);
        FileReadBuffer in(300);
        ASSERT_TRUE(in.open(path, readAheadFrom));
        ASSERT_EQ(::truncate(path.c_str(), 500), 0);
        std::size_t taken = 0;
        while (in.take(100))
            taken += 100;
        // What the buffers held whole before the cut: one, or two read ahead.
        EXPECT_LE(taken, readAheadFrom == 0 ? 600u : 500u);
        EXPECT_TRUE(in.failed());
        EXPECT_EQ(in.remaining(), 1000u - taken);  // the size when opened, less what was taken
    }
}

TEST(FileReadBuffer, ReadingAheadStopsWhenTheBufferIsDroppedOrReopened)
{
    test::TempDir dir;
    const auto path = (dir / "f").string();
    const std::vector<std::uint8_t> file = pattern(100000);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), 100000);

    // Dropped with the reader waiting for a half back, before and after the first take.
    for (const int takes : {0, 1, 5}) {
        FileReadBuffer in(64);
        ASSERT_TRUE(in.open(path, 0));
        for (int i = 0; i < takes; ++i)
            ASSERT_NE(in.take(50), nullptr);
    }
    // Opened again part way: the second reading starts from the front.
    FileReadBuffer in(64);
    ASSERT_TRUE(in.open(path, 0));
    ASSERT_NE(in.take(60), nullptr);
    ASSERT_NE(in.take(60), nullptr);
    ASSERT_TRUE(in.open(path, 0));
    const std::uint8_t* first = in.take(64);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(std::equal(first, first + 64, file.begin()));
    EXPECT_EQ(in.remaining(), file.size() - 64);
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
