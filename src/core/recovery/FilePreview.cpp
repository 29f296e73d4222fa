#include "recovery/FilePreview.h"

#include "mount/TreeNode.h"
#include "common/FileDescriptor.h"
#include "recovery/FileCopier.h"

#include <algorithm>
#include <cerrno>
#include <sys/mman.h>
#include <unistd.h>

namespace tamsin {

FileStart readFileStart(const MountedVolume& volume, const SectorReader& reader, const TreeNode& file,
                        std::size_t limit)
{
    FileStart start;
    if (file.isCompressed()) {
        start.compressed = true;
        return start;
    }
    // The copier writes to a descriptor; an anonymous memory file keeps the
    // bytes off the disk.
    FileDescriptor memory(::memfd_create("tamsin-preview", MFD_CLOEXEC));
    if (!memory.valid()) {
        start.result.outcome = ExtractOutcome::WriteFailed;
        start.result.error = errno;
        return start;
    }
    ExtractRequest request = extractRequestFor(file, {}, {}, ExtractMode::Quiet);
    request.size = static_cast<std::uint32_t>(std::min<std::uint64_t>(file.size, limit));
    RecoveryRunState run;
    ExtractionObserver quiet;
    copyFileContents(volume, reader, run, quiet, request, memory.get(), start.result);
    start.bytes.resize(start.result.bytesWritten);
    std::size_t done = 0;
    while (done < start.bytes.size()) {
        const ssize_t got = ::pread(memory.get(), start.bytes.data() + done, start.bytes.size() - done,
                                    static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    start.bytes.resize(done);
    return start;
}

} // namespace tamsin
