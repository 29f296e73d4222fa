#include "Commands.h"
#include "Interrupt.h"
#include "JsonRows.h"
#include "ProgressLine.h"
#include "TextTable.h"
#include "VolumePaths.h"

#include "recovery/DamageScan.h"

#include <algorithm>
#include <cstdio>

namespace tamsin::cli {
namespace {

class CliDamageObserver final : public DamageObserver {
public:
    explicit CliDamageObserver(std::ostream& err) : line_(err) {}
    void damageProgress(int percent) override
    {
        if (line_.due())
            line_.show("Reading tables and file data  " + std::to_string(percent) + "%");
    }
    void done() { line_.clear(); }

private:
    ProgressLine line_;
};

std::string intactText(const DamageRow& row)
{
    if (row.totalBytes == 0)
        return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", row.intactShare() * 100.0);
    return text;
}

} // namespace

int runDamage(const DamageOptions& options, std::ostream& out, std::ostream& err)
{
    int status = 0;
    auto mounted = mountFromOptions(options.mount, err, status);
    if (!mounted)
        return status;
    const MountedVolume& volume = mounted->session.mounted;

    std::atomic<bool> stop{false};
    DamageReport report;
    {
        CliDamageObserver observer(err);
        InterruptGuard interrupt(stop);
        report = scanDamage(volume, mounted->session.reader, observer, stop);
        observer.done();
    }
    if (report.stopped)
        err << "tamsin: the scan was stopped after " << report.filesScanned << " of " << volume.fileCount()
            << " file(s); the report is partial\n";

    // Tables first, then folders and files by path.
    PathNamer paths(volume, *mounted->names);
    struct Line {
        std::string path;
        const DamageRow* row;
    };
    std::vector<Line> lines;
    for (const DamageRow& row : report.rows) {
        switch (row.kind) {
        case DamageKind::Table:
            lines.push_back({row.table, &row});
            break;
        case DamageKind::Folder:
            lines.push_back({paths.entryPath(volume.folders[row.position]), &row});
            break;
        case DamageKind::File:
            lines.push_back({paths.entryPath(volume.files[row.position]), &row});
            break;
        }
    }
    const auto firstEntry = std::find_if(lines.begin(), lines.end(),
                                         [](const Line& line) { return line.row->kind != DamageKind::Table; });
    std::stable_sort(firstEntry, lines.end(), [](const Line& a, const Line& b) { return a.path < b.path; });

    if (options.json) {
        JsonRows json(out);
        for (const Line& line : lines) {
            json.field("path", line.path)
                .field("kind", damageKindName(line.row->kind))
                .field("unreadableBytes", line.row->unreadableBytes)
                .field("totalBytes", line.row->totalBytes);
            json.endRow();
        }
        json.finish();
        return report.stopped ? kExitError : kExitOk;
    }

    if (lines.empty()) {
        out << "Nothing on volume " << options.mount.volume << " touches an unreadable sector.\n";
        return report.stopped ? kExitError : kExitOk;
    }
    TextTable text;
    text.addColumn("Path");
    text.addColumn("Kind");
    text.addColumn("Unreadable", TextTable::Align::Right);
    text.addColumn("Of bytes", TextTable::Align::Right);
    text.addColumn("Intact", TextTable::Align::Right);
    for (const Line& line : lines)
        text.addRow({terminalSafe(line.path), damageKindName(line.row->kind), std::to_string(line.row->unreadableBytes),
                     std::to_string(line.row->totalBytes), intactText(*line.row)});
    text.print(out);
    return report.stopped ? kExitError : kExitOk;
}

} // namespace tamsin::cli
