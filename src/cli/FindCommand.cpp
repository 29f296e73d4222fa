#include "Commands.h"
#include "JsonRows.h"
#include "TextTable.h"

#include "search/FindFiles.h"
#include "search/SearchControl.h"

namespace tamsin::cli {
namespace {

struct Collector final : FindObserver {
    std::vector<FoundFile> rows;
    void fileFound(const FoundFile& row, std::uint32_t) override { rows.push_back(row); }
};

// Writes each match as the search reports it.
class JsonWriter final : public FindObserver {
public:
    JsonWriter(std::ostream& out, const CodePageConverter& names) : json_(out), names_(names) {}
    void fileFound(const FoundFile& row, std::uint32_t) override
    {
        const std::string name = names_.toUtf8(row.name);
        const std::string path = names_.toUtf8(row.path);
        json_.field("name", name).field("path", path).field("size", row.sizeBytes);
        json_.endRow();
    }
    void finish() { json_.finish(); }

private:
    JsonRows json_;
    const CodePageConverter& names_;
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
    if (options.json) {
        JsonWriter json(out, names);
        findFiles(mounted->session.mounted, options.pattern, control, json);
        json.finish();
        return kExitOk;
    }
    Collector found;
    findFiles(mounted->session.mounted, options.pattern, control, found);
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
