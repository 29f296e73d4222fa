// The JSON listings are written row by row; their bytes must be those that
// nlohmann::json prints for the same rows as one document.

#include "JsonRows.h"

#include "imagebuilder/ImageBuilder.h"

#include "RunCommand.h"
#include "SampleVolumes.h"
#include "TempDir.h"
#include "VolumeFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace tamsin {
namespace {

namespace ib = imagebuilder;
using nlohmann::json;

std::string printed(const json& document)
{
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

// The line where got first differs from expected; empty when they are equal.
std::string firstDifference(const std::string& got, const std::string& expected)
{
    if (got == expected)
        return "";
    const auto at = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first - got.begin();
    const std::size_t from = got.rfind('\n', static_cast<std::size_t>(std::max<std::ptrdiff_t>(at - 1, 0))) + 1;
    return got.substr(from, 60) + " <> " + expected.substr(from, 60);
}

struct TextCase {
    const char* label;
    std::string text;
};

void PrintTo(const TextCase& textCase, std::ostream* out)
{
    *out << textCase.label;
}

class JsonRowsTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(JsonRowsTest, RowsAreWhatNlohmannPrintsForTheSameArray)
{
    const std::string& text = GetParam().text;
    std::ostringstream out;
    cli::JsonRows rows(out);
    json expected = json::array();
    // Keys given out of order; three rows, so long texts pass the flush size.
    for (std::uint32_t i = 0; i < 3; ++i) {
        const std::uint64_t size = (std::uint64_t{i} << 40) + i;
        rows.field("text", text).field("size", size).field("deleted", i == 1).field("kind", "file");
        rows.endRow();
        expected.push_back({{"text", text}, {"size", size}, {"deleted", i == 1}, {"kind", "file"}});
    }
    rows.finish();
    EXPECT_EQ(out.str(), printed(expected));
}

// Single bytes of every value are tried in EveryByteIsFoundWhereverItIs.
INSTANTIATE_TEST_SUITE_P(
    Texts, JsonRowsTest,
    ::testing::Values(TextCase{"empty", ""}, TextCase{"utf8", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
                      TextCase{"loneContinuation", "A\x80" "B"}, TextCase{"cut", "AB\xE2\x82"},
                      TextCase{"overlong", "\xC0\xAF.TXT"}, TextCase{"surrogate", "\xED\xA0\x80X"},
                      TextCase{"pastUnicode", "\xF4\x90\x80\x80"}, TextCase{"long", std::string(100'000, 'N')}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return std::string(info.param.label); });

// Texts are checked for bytes that need escapes several bytes at a time:
// every byte value at every place of texts of each length read differently.
TEST(JsonRows, EveryByteIsFoundWhereverItIs)
{
    std::ostringstream out;
    cli::JsonRows rows(out);
    json expected = json::array();
    for (const std::size_t size : {2, 5, 9, 17}) {
        for (std::size_t place = 0; place < size; ++place) {
            for (int byte = 0; byte < 256; ++byte) {
                std::string text(size, 'a');
                text[place] = static_cast<char>(byte);
                rows.field("text", text);
                rows.endRow();
                expected.push_back({{"text", text}});
            }
        }
    }
    rows.finish();
    EXPECT_EQ(firstDifference(out.str(), printed(expected)), "");
}

// The four listing commands on a volume with names that need escapes,
// compressed files and unread sectors: each output, read and printed again
// by nlohmann, is unchanged, empty arrays included.
TEST(JsonListings, OutputIsWhatNlohmannPrintsForTheSameRows)
{
    test::TempDir dir;
    ib::VolumeContents contents = test::commandSample();
    ib::Node escape = ib::fileNode("X", 30);
    escape.name = "\x1b]0;\"\\";
    escape.longName = "tab\tand \x9B\x82";
    ib::Node broken = ib::fileNode("BROKEN.DAT", 3000);
    broken.compressed = ib::Compression{.checkSize = 17};
    contents.nodes.push_back(ib::folderNode("Q\"UOTE", {escape, broken}));
    contents.generate = ib::GeneratedTree{.entries = 400, .perFolder = 30, .longNameEvery = 3, .fileSize = 600};
    const test::BuiltVolume built = test::buildVolume(dir / "disk.img", contents, 8);
    ASSERT_TRUE(built.manifest);
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin() + 1, {built.imagePath, "--volume", "0", "--json"});
        return test::runCommand(TAMSIN_BINARY, args, dir.path());
    };

    // Unread: every seventh sector of the volume's second half, for damage.
    std::set<std::uint64_t> unread;
    const std::uint64_t imageBytes = std::filesystem::file_size(built.imagePath);
    for (std::uint64_t sector = (built.manifest->startSector + imageBytes / 512) / 2; sector < imageBytes / 512;
         sector += 7)
        unread.insert(sector);
    std::ofstream(dir / "disk.map") << test::rescueMapText(imageBytes, unread);
    const std::string map = (dir / "disk.map").string();

    for (const auto& args : std::vector<std::vector<std::string>>{{"ls", "-r"},
                                                                  {"ls", "/Q\"UOTE"},
                                                                  {"find", "*"},
                                                                  {"compressed"},
                                                                  {"damage", "--map", map},
                                                                  {"damage"},
                                                                  {"find", "NOTHING"}}) {
        std::string command;
        for (const std::string& arg : args)
            command += arg + " ";
        SCOPED_TRACE(command);
        const test::CommandResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const json rows = json::parse(r.out);
        EXPECT_EQ(r.out, printed(rows));
        // Only the runs meant to find nothing list no rows.
        EXPECT_EQ(rows.empty(), args.back() == "damage" || args.back() == "NOTHING");
    }
}

} // namespace
} // namespace tamsin
