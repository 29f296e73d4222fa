// The private folder files are opened from: where it is made, its mode, and
// its removal.

#include "PrivateFolder.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tamsin::app {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for the scope, restoring it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            saved_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (saved_)
            ::setenv(name_, saved_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

mode_t modeOf(const fs::path& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

TEST(PrivateFolder, MadeForTheUserUnderTheRuntimeFolderAndRemovedWithItsFiles)
{
    test::TempDir runtime, tmp;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path().c_str());
    ScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
    fs::path made;
    {
        PrivateFolder folder;
        made = folder.path();
        EXPECT_EQ(made.parent_path(), runtime.path());
        EXPECT_TRUE(made.filename().string().starts_with("tamsin-"));
        EXPECT_EQ(modeOf(made), 0700u);
        EXPECT_EQ(folder.path(), made.string()) << "one folder for the owner's life";
        std::ofstream(made / "OPENED.TXT") << "viewed";
        fs::create_directory(made / "sub");
        std::ofstream(made / "sub" / "MORE.TXT") << "more";

        PrivateFolder other;
        EXPECT_NE(other.path(), made.string()) << "names are not reused";
    }
    EXPECT_FALSE(fs::exists(made));
    EXPECT_TRUE(fs::is_empty(runtime.path()));
}

TEST(PrivateFolder, FallsBackToTheTemporaryFolder)
{
    test::TempDir tmp;
    ScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
    for (const char* runtime : {static_cast<const char*>(nullptr), "/nonexistent/tamsin-runtime"}) {
        ScopedEnv xdg("XDG_RUNTIME_DIR", runtime);
        PrivateFolder folder;
        const fs::path made = folder.path();
        EXPECT_EQ(made.parent_path(), tmp.path());
        EXPECT_EQ(modeOf(made), 0700u);
        folder.remove();
        EXPECT_FALSE(fs::exists(made));
    }
}

// Folders of killed runs go at the next start; live ones and folders
// without a pid file stay.
TEST(PrivateFolder, FoldersOfProcessesThatAreGoneAreRemoved)
{
    test::TempDir runtime;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path().c_str());
    ScopedEnv tmpdir("TMPDIR", runtime.path().c_str());
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ASSERT_GT(child, 0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const auto folderOf = [&](const char* name, std::optional<pid_t> pid) {
        const fs::path folder = runtime.path() / name;
        fs::create_directory(folder);
        std::ofstream(folder / "OPENED.TXT") << "x";
        if (pid)
            std::ofstream(folder / PrivateFolder::kPidFile) << *pid << '\n';
        return folder;
    };
    const fs::path gone = folderOf("tamsin-aaaaaa", child);
    const fs::path live = folderOf("tamsin-bbbbbb", ::getppid());
    const fs::path unmarked = folderOf("tamsin-cccccc", std::nullopt);
    const fs::path other = folderOf("keep-aaaaaa", child);
    PrivateFolder own;
    ASSERT_FALSE(own.path().empty());

    EXPECT_GE(PrivateFolder::removeAbandoned(), 1);
    EXPECT_FALSE(fs::exists(gone));
    for (const fs::path& kept : {live, unmarked, other, fs::path(own.path())})
        EXPECT_TRUE(fs::exists(kept)) << kept;
}

} // namespace
} // namespace tamsin::app
