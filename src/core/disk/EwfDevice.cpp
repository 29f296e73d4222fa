// EWF evidence files (E01 and its later segments E02, ...) through libewf.

#include "disk/ContainerDevice.h"
#include "disk/LibraryDevice.h"

#include <libewf.h>

#include <algorithm>
#include <vector>

namespace tamsin {
namespace {

struct Ewf {
    using Handle = libewf_handle_t;
    using Error = LibraryError<libewf_error_t, libewf_error_backtrace_sprint, libewf_error_free>;
    static int close(Handle* h, libewf_error_t** e) { return libewf_handle_close(h, e); }
    static int free(Handle** h, libewf_error_t** e) { return libewf_handle_free(h, e); }
    static ssize_t read(Handle* h, void* buffer, std::size_t size, off64_t offset, libewf_error_t** e)
    {
        return libewf_handle_read_random(h, buffer, size, offset, e);
    }

    // Chunks whose checksum failed and sectors the acquisition could not
    // read (stored as zeros) are not the disk's bytes: the ranges of them
    // within [offset, offset + length), in bytes.
    static void damage(Handle* h, std::uint64_t offset, std::uint64_t length,
                       std::vector<std::pair<std::uint64_t, std::uint64_t>>& damaged)
    {
        Error error;
        std::uint32_t sectorBytes = 0;
        if (libewf_handle_get_bytes_per_sector(h, &sectorBytes, error.out()) != 1 || sectorBytes == 0)
            return;
        const std::uint64_t first = offset / sectorBytes;
        const std::uint64_t end = (offset + length + sectorBytes - 1) / sectorBytes;
        using Count = int (*)(Handle*, std::uint32_t*, libewf_error_t**);
        using Get = int (*)(Handle*, std::uint32_t, std::uint64_t*, std::uint64_t*, libewf_error_t**);
        const std::pair<Count, Get> lists[] = {
            {libewf_handle_get_number_of_checksum_errors, libewf_handle_get_checksum_error},
            {libewf_handle_get_number_of_acquiry_errors, libewf_handle_get_acquiry_error}};
        for (const auto& [count, get] : lists) {
            std::uint32_t ranges = 0;
            if (count(h, &ranges, error.out()) != 1)
                continue;
            for (std::uint32_t i = 0; i < ranges; ++i) {
                std::uint64_t start = 0;
                std::uint64_t sectors = 0;
                if (get(h, i, &start, &sectors, error.out()) == 1 && start < end && first < start + sectors)
                    damaged.emplace_back(std::max(start, first) * sectorBytes, std::min(start + sectors, end) * sectorBytes);
            }
        }
    }
};

// The segment file names libewf_glob finds from the one given; owns them.
class SegmentNames {
public:
    explicit SegmentNames(const std::string& path)
    {
        Ewf::Error error;
        if (libewf_glob(path.c_str(), path.size(), LIBEWF_FORMAT_UNKNOWN, &names_, &count_, error.out()) != 1) {
            names_ = nullptr;
            count_ = 0;
        }
    }
    ~SegmentNames()
    {
        Ewf::Error error;
        if (names_)
            libewf_glob_free(names_, count_, error.out());
    }
    SegmentNames(const SegmentNames&) = delete;
    SegmentNames& operator=(const SegmentNames&) = delete;

    char** names() const { return names_; }
    int count() const { return count_; }

private:
    char** names_ = nullptr;
    int count_ = 0;
};

} // namespace

std::unique_ptr<Device> openEwfDevice(const std::string& path, Refusal& refusal)
{
    Ewf::Error error;
    libewf_handle_t* raw = nullptr;
    if (libewf_handle_initialize(&raw, error.out()) != 1) {
        refusal.reason = error.message("cannot set up the reader");
        return nullptr;
    }
    std::unique_ptr<libewf_handle_t, HandleDeleter<Ewf>> handle(raw);
    // A name the segment naming does not cover is opened as the only segment.
    const SegmentNames segments(path);
    char* single[] = {const_cast<char*>(path.c_str())};
    char* const* names = segments.count() > 0 ? segments.names() : single;
    const int count = segments.count() > 0 ? segments.count() : 1;
    if (libewf_handle_open(handle.get(), names, count, LIBEWF_OPEN_READ, error.out()) != 1) {
        refusal.reason = error.message("its segment files cannot be read");
        return nullptr;
    }
    size64_t size = 0;
    if (libewf_handle_get_media_size(handle.get(), &size, error.out()) != 1) {
        refusal.reason = error.message("no media size");
        libewf_handle_close(handle.get(), error.out());
        return nullptr;
    }
    // Asked a chunk at a time, and a chunk that fails is not split: each
    // damaged chunk is read once (the library leaks its buffer every time).
    std::uint32_t chunkBytes = 0;
    ContainerDevice::Granularity granularity;
    if (libewf_handle_get_chunk_size(handle.get(), &chunkBytes, error.out()) == 1 && chunkBytes >= 512
        && chunkBytes <= (1u << 20) && (chunkBytes & (chunkBytes - 1)) == 0)
        granularity = {chunkBytes, chunkBytes};
    return std::make_unique<LibraryDevice<Ewf>>(path, size, handle.release(), granularity);
}

} // namespace tamsin
