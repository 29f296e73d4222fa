#include "BenchSupport.h"

#include "disk/FileDevice.h"
#include "session/Session.h"
#include "volumes/VolumeTableReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tamsin::bench {

bool openFirstVolume(Session& session, const std::string& image)
{
    DiskInfo disk;
    disk.path = image;
    if (!session.reader.openDisk(disk) || readVolumeTables(session.reader, session.volumes) != VolumeTableStatus::VolumesFound)
        return false;
    session.mounted.selectVolume(session.volumes[0], 0);
    return true;
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

ChildRun runInChild(const std::function<bool()>& work)
{
    ChildRun run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(work() ? 0 : 1);
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.seconds = secondsSince(start);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.peakRssKiB = static_cast<std::uint64_t>(usage.ru_maxrss);
    return run;
}

ChildRun runInChildTimingStep(const std::function<bool(double& stepSeconds)>& work)
{
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return {};
    FileDescriptor readEnd(channel[0]);
    FileDescriptor writeEnd(channel[1]);
    ChildRun run = runInChild([&] {
        double seconds = 0;
        const bool ok = work(seconds);
        // Eight bytes fit in the pipe's buffer, so the write never waits for the parent.
        return ok && ::write(writeEnd.get(), &seconds, sizeof seconds) == static_cast<ssize_t>(sizeof seconds);
    });
    if (run.ok && ::read(readEnd.get(), &run.stepSeconds, sizeof run.stepSeconds) != static_cast<ssize_t>(sizeof run.stepSeconds))
        run.ok = false;
    return run;
}

ChildRun runProgram(const std::string& program, const std::vector<std::string>& args)
{
    ChildRun run;
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (spawned != 0 || ::wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.seconds = secondsSince(start);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.peakRssKiB = static_cast<std::uint64_t>(usage.ru_maxrss);
    return run;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

bool dropCaches()
{
    ::sync();
    FileDescriptor control(::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC));
    return control.valid() && ::write(control.get(), "3\n", 2) == 2;
}

namespace {

// Copies up to limitBytes from `from` to `to` in 1 MiB pieces, as cat does.
void copyBytes(int from, int to, std::uint64_t limitBytes)
{
    std::vector<char> buffer(1 << 20);
    std::uint64_t done = 0;
    while (done < limitBytes) {
        const ssize_t n = ::read(from, buffer.data(), std::min<std::uint64_t>(buffer.size(), limitBytes - done));
        if (n <= 0)
            break;
        if (::write(to, buffer.data(), static_cast<std::size_t>(n)) != n)
            break;
        done += static_cast<std::uint64_t>(n);
    }
}

} // namespace

double catFile(const std::string& from, const std::string& to, std::uint64_t limitBytes)
{
    const auto start = std::chrono::steady_clock::now();
    FileDescriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    copyBytes(in.get(), out.get(), limitBytes);
    return secondsSince(start);
}

double catIntoFile(const std::string& from, const std::string& to, bool sync)
{
    const auto start = std::chrono::steady_clock::now();
    {
        FileDescriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
        FileDescriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        copyBytes(in.get(), out.get(), ~0ull);
        if (sync)
            ::fsync(out.get());
    }
    return secondsSince(start);
}

std::uint64_t treeBytes(const std::filesystem::path& folder)
{
    std::uint64_t bytes = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            bytes += entry.file_size();
    return bytes;
}

void dropCachedPages(const std::filesystem::path& fileOrFolder)
{
    auto drop = [](const std::filesystem::path& file) {
        FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.valid())
            ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    };
    if (!std::filesystem::is_directory(fileOrFolder)) {
        drop(fileOrFolder);
        return;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(fileOrFolder))
        if (entry.is_regular_file())
            drop(entry.path());
}

Scratch::Scratch(const std::filesystem::path& parent)
{
    std::error_code ec;
    std::filesystem::create_directories(parent, ec);
    std::string pattern = (parent / "tamsin-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a scratch folder in " + parent.string() + ": " + std::strerror(errno));
    path_ = pattern;
}

Scratch::~Scratch()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace tamsin::bench
