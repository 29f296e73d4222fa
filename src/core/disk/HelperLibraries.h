#pragma once
// Access mode F: the helper libraries Disk32.dll and disk2.dll, through which
// disks are listed and read. They are loaded once at start-up with dlopen and
// never unloaded.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

namespace tamsin {

inline constexpr const char* kDisk32Name = "Disk32.dll";
inline constexpr const char* kDisk2Name = "disk2.dll";

// The messages of a failed load, shown to the user as they stand.
inline constexpr const char* kDisk32Missing = "Disk32.dll not found or corrupted";
inline constexpr const char* kDisk32Corrupted = "Disk32.dll is corrupted";
inline constexpr const char* kDisk2Missing = "Disk2.dll is corrupted or not found.";
inline constexpr const char* kDisk2Corrupted = "Disk2.dll is corrupted";

struct HelperGeometry {
    std::uint32_t cylinders = 0;
    std::uint32_t heads = 0;
    std::uint32_t sectorsPerTrack = 0;
};

class HelperLibraries {
public:
    // The entry points; every argument is 32 bits wide, results other than
    // CheckInt13Extension32's are ignored.
    using FindHardDisk = std::uint32_t (*)(std::uint16_t* count);
    using CheckInt13Extension = std::uint32_t (*)(std::uint32_t diskNumber);
    using GetDriveGeometry = std::uint32_t (*)(std::uint32_t diskNumber, std::uint32_t* cylinders,
                                               std::uint32_t* heads, std::uint32_t* sectorsPerTrack);
    using ReadDisk = std::uint32_t (*)(std::uint32_t diskNumber, std::uint32_t cylinder, std::uint32_t head,
                                       std::uint32_t sector, std::uint32_t count, void* buffer, std::uint32_t lba,
                                       std::uint32_t int13Extensions);

    HelperLibraries() = default;
    HelperLibraries(const HelperLibraries&) = delete;
    HelperLibraries& operator=(const HelperLibraries&) = delete;
    // The handles are deliberately left open: code and buffers of the
    // libraries may still be in use by readers that outlive this object.
    ~HelperLibraries() = default;

    // Loads Disk32.dll, then disk2.dll, from folder and looks up the entry
    // points. Returns an empty string on success, else the message of the
    // first step that failed; nothing is usable then. Call once.
    std::string load(const std::filesystem::path& folder);
    bool loaded() const { return readDisk_ != nullptr && findHardDisk_ != nullptr; }

    // Calls that need loaded() to be true.
    std::uint16_t findHardDisks() const;
    std::uint32_t checkInt13Extension(std::uint32_t diskNumber) const;
    HelperGeometry driveGeometry(std::uint32_t diskNumber) const;
    void readDisk(std::uint32_t diskNumber, std::uint32_t cylinder, std::uint32_t head, std::uint32_t sector,
                  std::uint32_t count, void* buffer, std::uint32_t lba, std::uint32_t int13Extensions) const;

    // The process's libraries: the ones helper-mode readers read through.
    // The front ends load them at start-up in mode F.
    static HelperLibraries& process();

    // Where the libraries are loaded from: TAMSIN_HELPER_DIR when set and
    // not empty; else, for a program run from the build tree, the folder the
    // build puts them in; else the installed folder of the program's
    // libraries relative to the executable (<exe dir>/../lib/.../tamsin).
    static std::filesystem::path defaultFolder();

private:
    void* disk32_ = nullptr;
    void* disk2_ = nullptr;
    ReadDisk readDisk_ = nullptr;
    CheckInt13Extension checkInt13Extension_ = nullptr;
    GetDriveGeometry getDriveGeometry_ = nullptr;
    FindHardDisk findHardDisk_ = nullptr;
    // The libraries promise nothing about threads: one read at a time.
    mutable std::mutex readMutex_;
};

} // namespace tamsin
