#include "ReportTexts.h"

#include "NameCodec.h"

#include "mount/MountedVolume.h"
#include "search/FindFiles.h"

namespace tamsin::app {

namespace {

// The backslash path of a folder or file node, its own name last.
QString entryPath(const MountedVolume& volume, const TreeNode& node, const NameCodec& names)
{
    std::string path = folderPathOf(volume, node);
    if (path.back() != '\\')
        path += '\\';
    return names.toDisplay(path + node.name);
}

QString intactText(const DamageRow& row)
{
    return QString::number(row.intactShare() * 100.0, 'f', 1) + QLatin1Char('%');
}

} // namespace

QString recoveryReportText(const RecoveryReport& report, const QString& destination)
{
    QString text = QStringLiteral("Recovered %1 file(s), %2 bytes, into %3\n")
                       .arg(report.filesWritten)
                       .arg(report.bytesWritten)
                       .arg(destination);
    if (report.stopped)
        text += QStringLiteral("The recovery was stopped: %1 file(s) not started.\n").arg(report.notStarted);
    text += QStringLiteral("\nIncomplete:                %1\n").arg(report.incomplete);
    text += QStringLiteral("Skipped (duplicate name):  %1\n").arg(report.skippedDuplicates);
    text += QStringLiteral("Skipped (deleted files):   %1\n").arg(report.skippedDeleted);
    text += QStringLiteral("Skipped during the copy:   %1\n").arg(report.skippedByUser);
    text += QStringLiteral("Failed:                    %1\n").arg(report.failed);
    if (!report.problems.empty()) {
        text += QStringLiteral("\nProblems:\n");
        for (const RecoveryProblem& problem : report.problems)
            text += QString::fromStdString(problem.path) + QStringLiteral(": ")
                + QString::fromStdString(problem.problem) + QLatin1Char('\n');
    }
    return text;
}

QString compressedFilesText(const MountedVolume& volume, const std::vector<CompressedFileInfo>& files,
                            const NameCodec& names)
{
    const QString volumeName = names.toDisplay(volume.volumeName);
    if (files.empty())
        return QStringLiteral("No compressed files on volume %1.\n").arg(volumeName);

    QString text = QStringLiteral("%1 compressed file(s) on volume %2:\n").arg(files.size()).arg(volumeName);
    for (const CompressedFileInfo& info : files) {
        if (info.position >= volume.files.size())
            continue;
        text += QLatin1Char('\n') + entryPath(volume, volume.files[info.position], names) + QLatin1Char('\n');
        text += QStringLiteral("    entry size %1 bytes; ").arg(info.size);
        if (!info.headerReadable)
            text += QStringLiteral("the stored header could not be read\n");
        else if (info.headerMatches())
            text += QStringLiteral("the stored header matches; stored length %1 bytes\n").arg(info.storedLength);
        else
            text += QStringLiteral("the stored header does not match (it gives %1 bytes; stored length %2 bytes): "
                                   "it is recovered as an empty file\n")
                        .arg(info.checkSize)
                        .arg(info.storedLength);
    }
    text += QStringLiteral("\nCompressed files are recovered as their stored stream, header included, up to the "
                           "stored length. The stream format is not public, so they cannot be decompressed.\n");
    return text;
}

QString damageReportText(const MountedVolume& volume, const DamageReport& report, const NameCodec& names)
{
    QString text;
    if (report.stopped)
        text += QStringLiteral("The scan was stopped after %1 of %2 file(s); what follows covers those.\n\n")
                    .arg(report.filesScanned)
                    .arg(volume.fileCount());
    if (report.rows.empty()) {
        text += QStringLiteral("Nothing on volume %1 lies on an unreadable sector.\n").arg(names.toDisplay(volume.volumeName));
        return text;
    }
    text += QStringLiteral("%1 damaged table(s), folder(s) and file(s) on volume %2:\n\n")
                .arg(report.rows.size())
                .arg(names.toDisplay(volume.volumeName));
    for (const DamageRow& row : report.rows) {
        switch (row.kind) {
        case DamageKind::Table:
            text += QStringLiteral("%1 table: %2 of %3 bytes unreadable in both copies (%4 intact); the entries "
                                   "they held are lost\n")
                        .arg(QString::fromStdString(row.table))
                        .arg(row.unreadableBytes)
                        .arg(row.totalBytes)
                        .arg(intactText(row));
            break;
        case DamageKind::Folder:
            text += entryPath(volume, volume.folders[row.position], names)
                + QStringLiteral(": folder; its own entry lay in an unreadable directory sector\n");
            break;
        case DamageKind::File:
            text += entryPath(volume, volume.files[row.position], names)
                + QStringLiteral(": %1 of %2 bytes unreadable (%3 intact)\n")
                      .arg(row.unreadableBytes)
                      .arg(row.totalBytes)
                      .arg(intactText(row));
            break;
        }
    }
    text += QStringLiteral("\nRecovered copies of these files hold zeros where their sectors could not be read.\n");
    return text;
}

} // namespace tamsin::app
