// Every sample volume written twice, once as a server writes it and once with
// random bytes wherever the format leaves bytes undefined: the two must list,
// find, recover and save alike, through the same commands users run.

#include "imagebuilder/ImageBuilder.h"

#include "RunCommand.h"
#include "SampleVolumes.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>

namespace tamsin {
namespace {

namespace fs = std::filesystem;
namespace ib = imagebuilder;
using test::CommandResult;

constexpr std::uint64_t kNoiseSeed = 0x5EED'0F'5A'17;

// Whether two files differ, read until the first difference.
bool differ(const fs::path& a, const fs::path& b)
{
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> bx(1 << 16), by(1 << 16);
    while (x && y) {
        x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
        y.read(by.data(), static_cast<std::streamsize>(by.size()));
        if (x.gcount() != y.gcount() || !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin()))
            return true;
    }
    return false;
}

std::string readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Each file and folder under root by relative path: a file's bytes and
// modification time (the recovery sets it; a folder's is when it was made).
std::map<std::string, std::string> treeOf(const fs::path& root)
{
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        tree[fs::relative(entry.path(), root).string()] =
            entry.is_directory() ? "folder" : readBytes(entry.path()) + " @" + std::to_string(st.st_mtime);
    }
    return tree;
}

// Empty when the texts are equal, else the first line where they differ
// (a whole listing of thousands of entries is no message).
std::string firstDifference(const std::string& clean, const std::string& noisy)
{
    if (clean == noisy)
        return {};
    std::istringstream a(clean), b(noisy);
    std::string x, y;
    for (int line = 1;; ++line) {
        const bool moreA = static_cast<bool>(std::getline(a, x));
        const bool moreB = static_cast<bool>(std::getline(b, y));
        if (!moreA && !moreB)
            return "texts differ in their ends of line";
        if (x != y || moreA != moreB)
            return "line " + std::to_string(line) + ":\n  clean: " + x.substr(0, 300) + "\n  noisy: " + y.substr(0, 300);
    }
}

std::string firstDifference(const std::map<std::string, std::string>& clean,
                            const std::map<std::string, std::string>& noisy)
{
    for (const auto& [path, what] : clean) {
        const auto it = noisy.find(path);
        if (it == noisy.end())
            return "only the clean twin has " + path;
        if (it->second != what)
            return path + " differs";
    }
    for (const auto& [path, what] : noisy)
        if (!clean.contains(path))
            return "only the noisy twin has " + path;
    return {};
}

class NoisyTwins : public ::testing::TestWithParam<test::SampleVolume> {
protected:
    void SetUp() override
    {
        for (const char* twin : {"clean", "noisy"})
            fs::create_directory(dir / twin);
        ib::DiskSpec disk = GetParam().disk();
        ASSERT_TRUE(ib::writeImage(disk, dir / "clean" / "disk.img"));
        test::addNoise(disk, kNoiseSeed);
        ASSERT_TRUE(ib::writeImage(disk, dir / "noisy" / "disk.img"));
        ASSERT_TRUE(differ(dir / "clean" / "disk.img", dir / "noisy" / "disk.img")) << "no noise written";
    }

    // Runs the command on both twins (IMAGE and OUT stand for the twin's
    // image and a folder of its own) and expects the same status and output.
    CommandResult both(std::vector<std::string> args)
    {
        CommandResult results[2];
        for (int k = 0; k < 2; ++k) {
            const fs::path twin = dir / (k == 0 ? "clean" : "noisy");
            std::vector<std::string> concrete = args;
            for (std::string& arg : concrete)
                if (arg == "IMAGE" || arg == "OUT")
                    arg = (twin / (arg == "IMAGE" ? "disk.img" : "out")).string();
            results[k] = test::runCommand(TAMSIN_BINARY, concrete, dir.path());
            // Outputs name the twin's own paths.
            for (std::string* text : {&results[k].out, &results[k].err})
                for (std::size_t at; (at = text->find(twin.string())) != std::string::npos;)
                    text->replace(at, twin.string().size(), "TWIN");
        }
        EXPECT_EQ(results[1].status, results[0].status) << args[0] << ": " << results[1].err;
        EXPECT_EQ(firstDifference(results[0].out, results[1].out), "") << args[0];
        EXPECT_EQ(firstDifference(results[0].err, results[1].err), "") << args[0];
        return results[0];
    }

    test::TempDir dir;
};

TEST_P(NoisyTwins, ReadAlikeWithAndWithoutNoise)
{
    const CommandResult volumes = both({"volumes", "IMAGE", "--json"});
    ASSERT_EQ(volumes.status, 0) << volumes.err;
    const std::size_t rows = nlohmann::json::parse(volumes.out).size();
    ASSERT_GE(rows, 1u);
    for (std::size_t row = 0; row < rows; ++row) {
        const std::string volume = std::to_string(row);
        SCOPED_TRACE("volume " + volume);
        both({"info", "IMAGE", "--volume", volume, "--json"});
        const CommandResult listing = both({"ls", "IMAGE", "--volume", volume, "--recursive", "--json"});
        ASSERT_EQ(listing.status, 0) << listing.err;
        both({"find", "IMAGE", "--volume", volume, "*", "--json"});
        both({"compressed", "IMAGE", "--volume", volume, "--json"});
        both({"damage", "IMAGE", "--volume", volume, "--json"});
        for (const char* deleted : {"include", "only"}) {
            const CommandResult recovered =
                both({"recover", "IMAGE", "--volume", volume, "--to", "OUT", "--deleted", deleted});
            EXPECT_EQ(firstDifference(treeOf(dir / "clean" / "out"), treeOf(dir / "noisy" / "out")), "") << deleted;
            for (const char* twin : {"clean", "noisy"})
                fs::remove_all(dir / twin / "out");
        }
        ASSERT_EQ(both({"snapshot", "save", "IMAGE", "--volume", volume, "OUT"}).status, 0);
        EXPECT_EQ(readBytes(dir / "noisy" / "out.VSNP"), readBytes(dir / "clean" / "out.VSNP"));
        both({"ls", "IMAGE", "--snapshot", "OUT.VSNP", "--recursive", "--json"});
    }
}

} // namespace
} // namespace tamsin

namespace tamsin::test {
void PrintTo(const SampleVolume& volume, std::ostream* out)
{
    *out << volume.name;
}
} // namespace tamsin::test

namespace tamsin {
namespace {

INSTANTIATE_TEST_SUITE_P(SampleVolumes, NoisyTwins, ::testing::ValuesIn(test::sampleVolumes()),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace tamsin
