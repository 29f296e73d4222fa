#pragma once
// A scratch image file for one test and plain pread access to its sectors.

#include "imagebuilder/ImageBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace tamsin::imagebuilder::testing {

class ImageFile {
public:
    ImageFile()
        : path_(std::filesystem::temp_directory_path()
                / ("tamsin-imagebuilder-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++) + ".img"))
    {
    }
    ~ImageFile() { std::filesystem::remove(path_); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    const std::filesystem::path& path() const { return path_; }

    SectorBytes sector(std::uint64_t number) const
    {
        SectorBytes bytes{};
        readInto(number * kSectorBytes, bytes.data(), bytes.size());
        return bytes;
    }

    // `count` bytes from a byte offset.
    std::vector<std::uint8_t> bytes(std::uint64_t offset, std::size_t count) const
    {
        std::vector<std::uint8_t> result(count);
        readInto(offset, result.data(), count);
        return result;
    }

private:
    void readInto(std::uint64_t offset, std::uint8_t* data, std::size_t count) const
    {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << path_;
        EXPECT_EQ(::pread(fd, data, count, static_cast<off_t>(offset)), static_cast<ssize_t>(count))
            << "offset " << offset;
        ::close(fd);
    }

    static inline int counter_ = 0;
    std::filesystem::path path_;
};

inline bool allZero(const SectorBytes& sector, std::size_t from = 0, std::size_t to = kSectorBytes)
{
    return std::all_of(sector.begin() + from, sector.begin() + to, [](std::uint8_t byte) { return byte == 0; });
}

inline std::string_view text(const SectorBytes& sector, std::size_t offset, std::size_t length)
{
    return {reinterpret_cast<const char*>(sector.data()) + offset, length};
}

} // namespace tamsin::imagebuilder::testing
