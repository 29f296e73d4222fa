// Volume search and recovery through container images (flat and sparse VMDK,
// dynamic VHD, QCOW2, and for reference VHDX and EWF) of one builder disk,
// against the raw image.

#include "BenchSupport.h"

#include "imagebuilder/ImageBuilder.h"
#include "mount/Mount.h"
#include "recovery/RecoveryRun.h"
#include "session/Session.h"
#include "volumes/VolumeSearch.h"

#include "disk/DiskDevice.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
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
        const RecoveryReport report = runRecovery(session.mounted, session.reader, session.settings.rules(), session.recovery,
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

namespace {

// Writes bytes over path at offset; false when the file cannot be written.
bool overwrite(const std::filesystem::path& path, std::uint64_t at, const std::string& bytes)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

} // namespace

// Damaged and odd containers of a 4 MiB disk, each read sector by sector in
// runs of 60 as the volume search reads: a damaged container's reads fail
// the same way every time, so none may take a second.
int damagedContainerBench(const std::filesystem::path& scratchParent)
{
    Scratch scratch(scratchParent);
    const std::filesystem::path dir = scratch.path();
    {
        std::mt19937 random(1);
        std::string raw(4 << 20, '\0');
        for (char& c : raw)
            c = static_cast<char>(random());
        std::ofstream(dir / "raw.img", std::ios::binary).write(raw.data(), static_cast<std::streamsize>(raw.size()));
    }
    const std::string cd = "cd '" + dir.string() + "' && ";
    struct Case {
        const char* label;
        std::string make;  // shell command in the scratch folder
        const char* file;
        std::uint64_t patchAt = 0;
        std::string patch;  // bytes written over the made file
    };
    const std::vector<Case> cases = {
        {"qcow2 cut in half", "qemu-img convert -f raw -O qcow2 raw.img a.qcow2 && truncate -s 2M a.qcow2", "a.qcow2", 0, {}},
        {"qcow2 cluster bits 22", "qemu-img convert -f raw -O qcow2 raw.img b.qcow2", "b.qcow2", 20, std::string("\0\0\0\x16", 4)},
        {"vmdk 4096-sector grains", "qemu-img convert -f raw -O vmdk raw.img c.vmdk", "c.vmdk", 20, std::string("\0\x10\0\0\0\0\0\0", 8)},
        {"vmdk stream cut in half",
         "mkdir -p d && qemu-img convert -f raw -O vmdk -o subformat=streamOptimized raw.img d/d.vmdk && truncate -s 2M d/d.vmdk",
         "d/d.vmdk", 0, {}},
        {"vhd dynamic cut in half", "qemu-img convert -f raw -O vpc raw.img e.vhd && truncate -s 2M e.vhd", "e.vhd", 0, {}},
        {"vhdx cut at 5 MiB", "qemu-img convert -f raw -O vhdx raw.img f.vhdx && truncate -s 5M f.vhdx", "f.vhdx", 0, {}},
        {"ewf segment cut", "ewfacquire -u -q -c none -S 1048576 -t g raw.img </dev/null >/dev/null && truncate -s 500000 g.E02",
         "g.E01", 0, {}},
    };
    bool met = true;
    std::printf("%-26s %8s %12s\n", "container", "seconds", "unreadable");
    for (const Case& c : cases) {
        if (std::system((cd + c.make + " >/dev/null 2>&1").c_str()) != 0
            || (!c.patch.empty() && !overwrite(dir / c.file, c.patchAt, c.patch))) {
            std::fprintf(stderr, "could not write the %s container (qemu-img and ewfacquire come with scripts/install-deps.sh)\n",
                         c.label);
            return 1;
        }
        const auto start = std::chrono::steady_clock::now();
        SectorReader reader;
        std::uint64_t unreadable = 0;
        if (auto device = openDiskDevice((dir / c.file).string())) {
            reader.attach(std::move(device));
            const std::uint64_t sectors = reader.device()->sizeBytes() / kSectorSize;
            std::vector<std::uint8_t> buffer(60 * kSectorSize);
            for (std::uint64_t s = 0; s < sectors; s += 60)
                unreadable += reader.readSectorsZeroFilled(s, static_cast<std::uint32_t>(std::min<std::uint64_t>(60, sectors - s)), buffer);
        }
        const double seconds = secondsSince(start);
        std::printf("%-26s %8.3f %12s\n", c.label, seconds, reader.isOpen() ? std::to_string(unreadable).c_str() : "refused");
        std::fflush(stdout);
        met = met && seconds < 1.0;
    }
    std::printf("goal: every damaged container read in under a second -- %s\n", met ? "met" : "not met");
    return 0;
}

} // namespace tamsin::bench
