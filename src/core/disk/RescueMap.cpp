#include "disk/RescueMap.h"

#include "disk/Sector.h"
#include "disk/SectorReader.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace tamsin {
namespace {

// A number as the mapfile writes it: 0x hexadecimal, else decimal.
bool parseNumber(const std::string& text, std::uint64_t& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    value = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    return errno == 0 && end && *end == '\0';
}

bool isStatus(const std::string& text)
{
    return text.size() == 1 && std::string("?*/-+").find(text[0]) != std::string::npos;
}

// The blank-separated words of a mapfile line, its comment left out.
std::vector<std::string> lineWords(std::string line)
{
    if (const auto hash = line.find('#'); hash != std::string::npos)
        line.erase(hash);
    std::istringstream fields(line);
    std::vector<std::string> words;
    for (std::string word; fields >> word;)
        words.push_back(word);
    return words;
}

// "current_pos current_status [current_pass]", the first line of a map; the
// status is the rescue's phase: copying, trimming, scraping, retrying,
// filling, generating or finished.
bool isStatusLine(const std::vector<std::string>& words)
{
    std::uint64_t position = 0;
    return words.size() >= 2 && words.size() <= 3 && parseNumber(words[0], position) && words[1].size() == 1
        && std::string("?*/-FG+").find(words[1][0]) != std::string::npos;
}

bool isRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::optional<RescueMap> RescueMap::parse(std::istream& in, std::uint64_t imageBytes, std::string& error)
{
    RescueMap map;
    // Byte ranges marked finished, in file order.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> finished;
    std::string line;
    std::size_t lineNumber = 0;
    bool statusLineSeen = false;
    std::uint64_t previousEnd = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        const std::vector<std::string> words = lineWords(line);
        if (words.empty())
            continue;
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return std::nullopt;
        };
        if (!statusLineSeen) {
            if (!isStatusLine(words))
                return fail("expected the current position and status (one of ? * / - F G +), e.g. \"0x00000000  +  1\"");
            statusLineSeen = true;
            continue;
        }
        std::uint64_t position = 0;
        std::uint64_t size = 0;
        if (words.size() != 3 || !parseNumber(words[0], position) || !parseNumber(words[1], size) || !isStatus(words[2]))
            return fail("expected a block \"position size status\" with status one of ? * / - +");
        if (position < previousEnd)
            return fail("the block starts before the end of the previous one");
        if (size > ~std::uint64_t{0} - position)
            return fail("the block reaches past the largest disk a map can describe");
        // An image of a rescue still under way ends where writing stopped,
        // while its map goes on to the disk's end: what lies past the image
        // may be unfinished, never finished.
        if (words[2] == "+" && position + size > imageBytes)
            return fail("the block reaches past the end of the image (" + std::to_string(imageBytes) + " bytes)");
        previousEnd = position + size;
        if (words[2] == "+" && size > 0)
            finished.emplace_back(position, position + size);
    }
    if (!statusLineSeen) {
        error = "no status line: not a rescue map";
        return std::nullopt;
    }

    // A sector is readable only when finished blocks cover all its bytes. The
    // map's domain counts as the disk when it is larger than the image.
    map.domainBytes_ = std::max(imageBytes, previousEnd);
    const std::uint64_t sectors = (map.domainBytes_ + kSectorSize - 1) / kSectorSize;
    std::uint64_t cursor = 0;  // first sector not yet classified
    auto markBad = [&](std::uint64_t from, std::uint64_t to) {
        if (from >= to)
            return;
        if (!map.bad_.empty() && map.bad_.back().second >= from)
            map.bad_.back().second = std::max(map.bad_.back().second, to);
        else
            map.bad_.emplace_back(from, to);
    };
    // Adjacent finished blocks join into one covered range first.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> covered;
    for (const auto& block : finished) {
        if (!covered.empty() && covered.back().second == block.first)
            covered.back().second = block.second;
        else
            covered.push_back(block);
    }
    for (const auto& [begin, end] : covered) {
        const std::uint64_t firstWhole = (begin + kSectorSize - 1) / kSectorSize;
        const std::uint64_t endWhole = end == imageBytes ? sectors : end / kSectorSize;
        if (firstWhole >= endWhole)
            continue;
        markBad(cursor, firstWhole);
        cursor = endWhole;
    }
    markBad(cursor, sectors);
    return map;
}

std::optional<RescueMap> RescueMap::load(const std::string& path, std::uint64_t imageBytes, std::string& error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot be opened";
        return std::nullopt;
    }
    return parse(in, imageBytes, error);
}

bool looksLikeRescueMap(const std::string& path)
{
    if (!isRegularFile(path))
        return false;
    std::ifstream in(path, std::ios::binary);
    char head[4096];
    in.read(head, sizeof head);
    const std::string text(head, static_cast<std::size_t>(in.gcount()));
    if (text.find('\0') != std::string::npos)
        return false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::vector<std::string> words = lineWords(line);
        if (!words.empty())
            return isStatusLine(words);
    }
    return false;
}

bool RescueMap::unreadable(std::uint64_t sector) const
{
    bool bad = false;
    uniformRun(sector, 1, bad);
    return bad;
}

std::uint64_t RescueMap::uniformRun(std::uint64_t first, std::uint64_t count, bool& bad) const
{
    // The first bad range ending after first.
    const auto it = std::upper_bound(bad_.begin(), bad_.end(), first,
                                     [](std::uint64_t s, const auto& range) { return s < range.second; });
    if (it != bad_.end() && it->first <= first) {
        bad = true;
        return std::min(count, it->second - first);
    }
    bad = false;
    return it == bad_.end() ? count : std::min(count, it->first - first);
}

std::uint64_t RescueMap::unreadableSectors() const
{
    std::uint64_t total = 0;
    for (const auto& [from, to] : bad_)
        total += to - from;
    return total;
}

bool useRescueMap(SectorReader& reader, const std::string& mapPath, bool lookBeside, std::string& usedPath,
                  std::string& error)
{
    usedPath = mapPath;
    reader.setRescueMap(nullptr);
    if (reader.accessMode() == AccessMode::Helper) {
        // Maps describe image files; helper disks are not read from files.
        if (!mapPath.empty()) {
            error = "rescue maps apply to image files, not to disks read through the helper libraries (access mode F)";
            return false;
        }
        return true;
    }
    if (!reader.device())
        return true;
    const std::string& image = reader.device()->path();
    if (usedPath.empty() && lookBeside && isRegularFile(image))
        usedPath = mapBesideImage(image);
    if (usedPath.empty())
        return true;
    auto map = RescueMap::load(usedPath, reader.device()->sizeBytes(), error);
    if (!map)
        return false;
    reader.setRescueMap(std::make_shared<const RescueMap>(std::move(*map)));
    return true;
}

std::string mapBesideImage(const std::string& imagePath)
{
    for (const char* suffix : {".map", ".mapfile"})
        if (isRegularFile(imagePath + suffix))
            return imagePath + suffix;
    return {};
}

} // namespace tamsin
