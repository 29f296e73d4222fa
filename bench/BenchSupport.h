#pragma once
// Timing, child processes and scratch files for the benchmarks.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "mount/MountObserver.h"

namespace tamsin {
struct Session;
}

namespace tamsin::bench {

// Answers every copy chooser with the first copy; reports nothing.
struct QuietMountObserver final : MountObserver {
    CopyChoice chooseCopy(TableKind) override { return CopyChoice::First; }
};

// Opens the image, reads its volume tables and selects volume 0.
bool openFirstVolume(Session& session, const std::string& image);


struct ChildRun {
    bool ok = false;
    double seconds = 0;
    std::uint64_t peakRssKiB = 0;  // the child's maximum resident set
    double stepSeconds = 0;        // runInChildTimingStep: what the child reported
};

// Runs work in a forked child so its peak memory is measured alone.
ChildRun runInChild(const std::function<bool()>& work);

// Like runInChild, for work that times one step of its own (without the
// set-up around it) and stores the seconds in its argument; they come back
// in ChildRun::stepSeconds.
ChildRun runInChildTimingStep(const std::function<bool(double& stepSeconds)>& work);

// Runs a program with arguments, its output and error to /dev/null, and
// measures it alone: spawned without copying this process's memory, so the
// peak is the program's own.
ChildRun runProgram(const std::string& program, const std::vector<std::string>& args);

// The middle value (the mean of the two middle ones for an even count); 0 for none.
double median(std::vector<double> values);

// Writes dirty pages back and empties the page cache, for the cold runs;
// false when not allowed (not root, or a container that forbids it).
bool dropCaches();

double secondsSince(std::chrono::steady_clock::time_point start);

// Copies the first limitBytes of from to `to` with a plain read/write loop of
// 1 MiB pieces (the `cat` reference). Returns seconds.
double catFile(const std::string& from, const std::string& to, std::uint64_t limitBytes = ~0ull);

// `cat from > to` whole: the copy is also closed before the clock stops, as
// cat does when it exits; with sync, fsynced first, as a durable save is.
double catIntoFile(const std::string& from, const std::string& to, bool sync);

// Bytes of all regular files under folder.
std::uint64_t treeBytes(const std::filesystem::path& folder);

// Drops the cached pages of a file, or of every file under a folder, once
// written back. A timed run that writes a gigabyte then leaves the memory it
// took free for the next: on a virtual machine, page cache that keeps growing
// lands on guest memory the host has not backed yet, and writing it costs
// two to three times as much as writing memory used before.
void dropCachedPages(const std::filesystem::path& fileOrFolder);

// A scratch folder under the given parent (default: the current folder, so the
// comparison with cat uses the same file system), removed at exit.
class Scratch {
public:
    explicit Scratch(const std::filesystem::path& parent);
    ~Scratch();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace tamsin::bench
