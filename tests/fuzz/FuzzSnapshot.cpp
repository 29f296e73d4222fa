// The snapshot loader over a file holding the input.

#include "FuzzSupport.h"

#include "mount/MountedVolume.h"
#include "snapshot/Snapshot.h"

#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace tamsin;
    static const std::string path = "/tmp/tamsin-fuzz-snapshot-" + std::to_string(getpid()) + ".VSNP";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return 0;
    if (size > 0)
        std::fwrite(data, 1, size, file);
    std::fclose(file);
    MountedVolume volume;
    std::uint16_t diskNumber = 0;
    loadSnapshot(volume, path, &diskNumber);
    std::remove(path.c_str());
    return 0;
}
