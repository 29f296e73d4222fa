// Volume search and recovery through container images (flat and sparse VMDK,
// dynamic VHD, QCOW2, and for reference VHDX and EWF) of one builder disk,
// against the raw image.

#include "BenchSupport.h"

#include "imagebuilder/ImageBuilder.h"
#include "mount/Mount.h"
#include "recovery/RecoveryRun.h"
#include "session/Session.h"
#include "volumes/VolumeSearch.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace tamsin::bench {
namespace ib = imagebuilder;
namespace {

struct Format {
    const char* label;
    const char* file;
    std::string command;  // writes file from the raw image; empty for the raw image itself
};

struct Rates {
    double searchMiBs = 0;
    double recoverMiBs = 0;
};

// The best of `rounds` volume searches over the whole disk and of `rounds`
// whole-volume recoveries; zeros when the image cannot be read.
Rates measure(const std::string& image, const std::filesystem::path& scratch, int rounds)
{
    Rates rates;
    catFile(image, "/dev/null");  // the page cache holds every image alike
    for (int round = 0; round < rounds; ++round) {
        Session session;
        DiskInfo disk;
        disk.path = image;
        if (!session.reader.openDisk(disk))
            return {};
        const std::uint64_t bytes = session.reader.device()->sizeBytes();
        std::atomic<bool> stop{false};
        VolumeSearchObserver quiet;
        const auto start = std::chrono::steady_clock::now();
        searchVolumes(session.reader, session.volumes, {0, static_cast<std::uint32_t>(bytes / kSectorSize)}, 60, stop,
                      quiet);
        rates.searchMiBs = std::max(rates.searchMiBs, bytes / secondsSince(start) / (1 << 20));
        if (session.volumes.volumeCount() != 1)
            return {};
    }
    for (int round = 0; round < rounds; ++round) {
        Session session;
        QuietMountObserver quiet;
        if (!openFirstVolume(session, image) || mountVolume(session.mounted, session.reader, quiet) != MountResult::Completed)
            return {};
        RecoverySelection all;
        all.wholeVolume = true;
        // The copies go to memory where it can be had, so that the figures
        // compare the reading, not the disk the copies are written to.
        const std::filesystem::path memory = "/dev/shm";
        const auto out = (::access(memory.c_str(), W_OK) == 0 ? memory : scratch)
            / ("tamsin-bench-" + std::to_string(::getpid()));
        RecoveryRunObserver observer;
        const auto start = std::chrono::steady_clock::now();
        const RecoveryReport report = runRecovery(session.mounted, session.reader, session.settings, session.recovery,
                                                  observer, all, out.string(), [](const std::string& raw) { return raw; });
        const double seconds = secondsSince(start);
        std::filesystem::remove_all(out);
        if (report.failed || report.incomplete)
            return {};
        rates.recoverMiBs = std::max(rates.recoverMiBs, report.bytesWritten / seconds / (1 << 20));
    }
    return rates;
}

} // namespace

int containerBench(const std::filesystem::path& scratchParent, std::uint32_t dataMiB)
{
    Scratch scratch(scratchParent);
    // Large files in interleaved and contiguous chains, many small files, 64 KiB blocks.
    ib::VolumeContents contents;
    ib::Node big = ib::folderNode("BIG");
    for (int i = 0; i < 4; ++i) {
        ib::Node file = ib::fileNode("LARGE" + std::to_string(i) + ".BIN", dataMiB / 4 * (1u << 20) + 777);
        file.chain.order = i % 2 ? ib::BlockOrder::Interleaved : ib::BlockOrder::Contiguous;
        big.children.push_back(file);
    }
    contents.nodes.push_back(big);
    contents.generate = ib::GeneratedTree{};
    contents.generate->entries = 3000;
    contents.generate->deletedEvery = 0;
    contents.generate->fileSize = 6000;
    const auto raw = (scratch.path() / "disk.img").string();
    if (!ib::writeImage(ib::singleVolumeDisk("DATA", 128, contents), raw).ok()) {
        std::fprintf(stderr, "could not build the image\n");
        return 1;
    }
    std::printf("disk: %.0f MiB raw\n", static_cast<double>(std::filesystem::file_size(raw)) / (1 << 20));

    const std::string in = " -f raw '" + raw + "' '" + scratch.path().string() + "/";
    const std::vector<Format> formats = {
        {"raw", "disk.img", ""},
        {"vmdk flat", "flat.vmdk", "qemu-img convert -O vmdk -o subformat=monolithicFlat" + in + "flat.vmdk'"},
        {"vmdk sparse", "sparse.vmdk", "qemu-img convert -O vmdk" + in + "sparse.vmdk'"},
        {"vhd dynamic", "dynamic.vhd", "qemu-img convert -O vpc -o subformat=dynamic" + in + "dynamic.vhd'"},
        {"qcow2", "disk.qcow2", "qemu-img convert -O qcow2" + in + "disk.qcow2'"},
        {"vhdx", "disk.vhdx", "qemu-img convert -O vhdx" + in + "disk.vhdx'"},
        {"ewf", "disk.E01",
         "ewfacquire -u -q -c none -t '" + scratch.path().string() + "/disk' '" + raw + "' </dev/null >/dev/null"},
    };

    Rates rawRates;
    bool met = true;
    std::printf("%-12s %10s %7s %11s %7s\n", "format", "search", "ratio", "recovery", "ratio");
    for (const Format& format : formats) {
        if (!format.command.empty() && std::system(format.command.c_str()) != 0) {
            std::fprintf(stderr, "could not write the %s image (qemu-img and ewfacquire come with scripts/install-deps.sh)\n",
                         format.label);
            return 1;
        }
        // The converted image reaches the disk first, so that no format is
        // measured while the previous ones are still written back or freed.
        ::sync();
        const Rates rates = measure((scratch.path() / format.file).string(), scratch.path(), 3);
        if (rates.searchMiBs == 0 || rates.recoverMiBs == 0) {
            std::fprintf(stderr, "%s: the volume was not found or not recovered\n", format.label);
            return 1;
        }
        if (format.command.empty())
            rawRates = rates;
        const double searchRatio = rates.searchMiBs / rawRates.searchMiBs;
        const double recoverRatio = rates.recoverMiBs / rawRates.recoverMiBs;
        std::printf("%-12s %6.0f MiB/s %7.2f %7.0f MiB/s %7.2f\n", format.label, rates.searchMiBs, searchRatio,
                    rates.recoverMiBs, recoverRatio);
        std::fflush(stdout);
        const bool targeted = std::string(format.label) != "vhdx" && std::string(format.label) != "ewf";
        met = met && (!targeted || (searchRatio >= 0.7 && recoverRatio >= 0.7));
        if (!format.command.empty())
            for (const auto& entry : std::filesystem::directory_iterator(scratch.path()))
                if (entry.path().string() != raw && entry.is_regular_file())
                    std::filesystem::remove(entry.path());
    }
    std::printf("goal: flat and sparse VMDK, VHD and QCOW2 at least 0.70 of raw -- %s\n", met ? "met" : "not met");
    return 0;
}

} // namespace tamsin::bench
