#include "Commands.h"
#include "TextTable.h"

#include "search/FindFiles.h"
#include "search/SearchControl.h"

#include <nlohmann/json.hpp>

namespace tamsin::cli {
namespace {

struct Collector final : FindObserver {
    std::vector<FoundFile> rows;
    void fileFound(const FoundFile& row, std::uint32_t) override { rows.push_back(row); }
};

} // namespace

int runFind(const FindOptions& options, std::ostream& out, std::ostream& err)
{
    int status = 0;
    auto mounted = mountFromOptions(options.mount, err, status);
    if (!mounted)
        return status;
    const CodePageConverter& names = *mounted->names;
    SearchControl control;
    Collector found;
    findFiles(mounted->session.mounted, options.pattern, control, found);

    if (options.json) {
        auto array = nlohmann::json::array();
        for (const auto& row : found.rows)
            array.push_back({{"name", names.toUtf8(row.name)}, {"path", names.toUtf8(row.path)}, {"size", row.sizeBytes}});
        out << array.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return kExitOk;
    }
    if (found.rows.empty()) {
        out << "No file matches " << options.pattern << ".\n";
        return kExitOk;
    }
    TextTable text;
    text.addColumn("File Name");
    text.addColumn("Path");
    text.addColumn("Size", TextTable::Align::Right);
    for (const auto& row : found.rows)
        text.addRow({names.toUtf8(row.name), names.toUtf8(row.path), row.size});
    text.print(out);
    out << found.rows.size() << " file(s) found\n";
    return kExitOk;
}

} // namespace tamsin::cli
