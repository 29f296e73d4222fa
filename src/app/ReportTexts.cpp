#include "ReportTexts.h"

#include "NameCodec.h"
#include "RecoveryWords.h"

#include "mount/MountedVolume.h"
#include "search/FindFiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

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
                + QString::fromStdString(words::problemText(problem)) + QLatin1Char('\n');
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

QByteArray recoveryReportJson(const RecoveryReport& report, const QString& destination)
{
    QJsonArray problems;
    for (const RecoveryProblem& problem : report.problems)
        problems.append(QJsonObject{{"path", QString::fromStdString(problem.path)},
                                    {"problem", QString::fromStdString(words::problemText(problem))}});
    const QJsonObject object{
        {"destination", destination},
        {"filesWritten", static_cast<qint64>(report.filesWritten)},
        {"bytesWritten", static_cast<qint64>(report.bytesWritten)},
        {"incomplete", static_cast<qint64>(report.incomplete)},
        {"skippedDuplicates", static_cast<qint64>(report.skippedDuplicates)},
        {"skippedDeleted", static_cast<qint64>(report.skippedDeleted)},
        {"skippedByUser", static_cast<qint64>(report.skippedByUser)},
        {"notStarted", static_cast<qint64>(report.notStarted)},
        {"failed", static_cast<qint64>(report.failed)},
        {"stopped", report.stopped},
        {"problems", problems},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QByteArray damageReportJson(const MountedVolume& volume, const DamageReport& report, const NameCodec& names)
{
    QJsonArray rows;
    for (const DamageRow& row : report.rows) {
        QString path;
        if (row.kind == DamageKind::Table)
            path = QString::fromStdString(row.table);
        else
            path = entryPath(volume, row.kind == DamageKind::Folder ? volume.folders[row.position]
                                                                  : volume.files[row.position], names);
        rows.append(QJsonObject{{"path", path},
                                {"kind", QString::fromUtf8(damageKindName(row.kind))},
                                {"unreadableBytes", static_cast<qint64>(row.unreadableBytes)},
                                {"totalBytes", static_cast<qint64>(row.totalBytes)}});
    }
    const QJsonObject object{
        {"volume", names.toDisplay(volume.volumeName)},
        {"stopped", report.stopped},
        {"filesScanned", static_cast<qint64>(report.filesScanned)},
        {"rows", rows},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

int OverallProgress::percent() const
{
    if (bytes > 0)
        return static_cast<int>(std::min<std::uint64_t>(bytesDone, bytes) * 100 / bytes);
    return files > 0 ? static_cast<int>(std::min(filesDone, files) * 100 / files) : 0;
}

QString overallProgressText(const OverallProgress& progress)
{
    const auto size = [](std::uint64_t bytes) {
        if (bytes < 1024)
            return QStringLiteral("%1 bytes").arg(bytes);
        if (bytes < (1u << 20))
            return QStringLiteral("%1 KB").arg(bytes / 1024);
        if (bytes < (1u << 30))
            return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / (1u << 20), 0, 'f', 1);
        return QStringLiteral("%1 GB").arg(static_cast<double>(bytes) / (1u << 30), 0, 'f', 1);
    };
    // The file being copied counts: the first file is "File 1 of N".
    const std::uint64_t current = std::min(progress.filesDone + 1, progress.files);
    QString text = QStringLiteral("File %1 of %2, %3 of %4")
                       .arg(current)
                       .arg(progress.files)
                       .arg(size(progress.bytesDone), size(progress.bytes));
    if (progress.secondsLeft >= 0) {
        const auto seconds = static_cast<std::uint64_t>(progress.secondsLeft + 0.5);
        if (seconds < 60)
            text += QStringLiteral(", about %1 s left").arg(std::max<std::uint64_t>(seconds, 1));
        else if (seconds < 3600)
            text += QStringLiteral(", about %1 min left").arg((seconds + 30) / 60);
        else
            text += QStringLiteral(", about %1 h %2 min left").arg(seconds / 3600).arg(seconds % 3600 / 60);
    }
    return text;
}

} // namespace tamsin::app
