#include "ImageDisks.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tamsin::helper {
namespace {

constexpr std::uint64_t kSectorSize = 512;

struct Image {
    int fd = -1;
    std::uint64_t size = 0;
};

std::vector<Image> openImages()
{
    std::vector<Image> images;
    const char* list = std::getenv("TAMSIN_HELPER_DISKS");
    if (!list || !*list)
        return images;
    std::string paths(list);
    for (std::size_t from = 0; from <= paths.size();) {
        std::size_t to = paths.find(':', from);
        if (to == std::string::npos)
            to = paths.size();
        const std::string path = paths.substr(from, to - from);
        from = to + 1;
        if (path.empty())
            continue;
        Image image;
        image.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (image.fd >= 0 && ::fstat(image.fd, &st) == 0)
            image.size = static_cast<std::uint64_t>(st.st_size);
        images.push_back(image);
    }
    return images;
}

// Opened on first use (thread-safe static initialisation) and never closed:
// the libraries are never unloaded.
const std::vector<Image>& images()
{
    static const std::vector<Image> opened = openImages();
    return opened;
}

} // namespace

std::size_t imageCount()
{
    return images().size();
}

std::uint32_t imageCylinders(std::size_t index)
{
    if (index >= images().size())
        return 0;
    const std::uint64_t sectors = (images()[index].size + kSectorSize - 1) / kSectorSize;
    const std::uint64_t perCylinder = std::uint64_t{kHeads} * kSectorsPerTrack;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>((sectors + perCylinder - 1) / perCylinder, std::numeric_limits<std::uint32_t>::max()));
}

void readImage(std::size_t index, std::uint32_t lba, std::uint32_t count, void* buffer)
{
    auto* out = static_cast<unsigned char*>(buffer);
    const std::uint64_t length = std::uint64_t{count} * kSectorSize;
    std::uint64_t done = 0;
    if (index < images().size() && images()[index].fd >= 0) {
        const int fd = images()[index].fd;
        const std::uint64_t offset = std::uint64_t{lba} * kSectorSize;
        while (done < length) {
            const ssize_t got = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += static_cast<std::uint64_t>(got);
        }
    }
    std::memset(out + done, 0, length - done);
}

} // namespace tamsin::helper
