#include "DesktopApps.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMimeDatabase>
#include <QSet>
#include <QStandardPaths>
#include <QTextStream>

#include <algorithm>

namespace tamsin::app {
namespace {

struct Entry {
    DesktopApp app;
    QStringList mimeTypes;
    bool hidden = false;
    bool application = false;
};

// The keys of the [Desktop Entry] group; localised keys are skipped, the
// plain Name is what every desktop file has.
Entry readEntry(const QString& path)
{
    Entry entry;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entry;
    QTextStream in(&file);
    bool inGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inGroup || line.startsWith(QLatin1Char('#')) || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QStringLiteral("Type"))
            entry.application = value == QStringLiteral("Application");
        else if (key == QStringLiteral("Name"))
            entry.app.name = value;
        else if (key == QStringLiteral("Icon"))
            entry.app.icon = value;
        else if (key == QStringLiteral("Exec"))
            entry.app.exec = value;
        else if (key == QStringLiteral("Terminal"))
            entry.app.terminal = value == QStringLiteral("true");
        else if (key == QStringLiteral("MimeType"))
            entry.mimeTypes = value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        else if ((key == QStringLiteral("NoDisplay") || key == QStringLiteral("Hidden")) && value == QStringLiteral("true"))
            entry.hidden = true;
    }
    return entry;
}

// Splits an Exec line into arguments: blanks separate, double quotes group,
// a backslash inside quotes escapes the next character.
QStringList splitExec(const QString& exec)
{
    QStringList parts;
    QString current;
    bool quoted = false;
    bool any = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size())
                current += exec[++i];
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                current += c;
        } else if (c == QLatin1Char('"')) {
            quoted = any = true;
        } else if (c.isSpace()) {
            if (any)
                parts << current;
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        parts << current;
    return parts;
}

} // namespace

std::vector<DesktopApp> applicationsFor(const QString& mimeType, const QStringList& folders)
{
    const QStringList searched =
        folders.isEmpty() ? QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation) : folders;
    QSet<QString> wanted{mimeType};
    const QMimeType type = QMimeDatabase().mimeTypeForName(mimeType);
    if (type.isValid()) {
        wanted.insert(type.name());
        for (const QString& ancestor : type.allAncestors())
            wanted.insert(ancestor);
        for (const QString& alias : type.aliases())
            wanted.insert(alias);
    }
    QSet<QString> seen;
    std::vector<DesktopApp> apps;
    for (const QString& folder : searched) {
        QDirIterator files(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            // Desktop file ids name subfolders with "-": kde/foo.desktop is kde-foo.desktop.
            const QString id = QDir(folder).relativeFilePath(path).replace(QLatin1Char('/'), QLatin1Char('-'));
            if (seen.contains(id))
                continue;
            seen.insert(id);
            Entry entry = readEntry(path);
            if (!entry.application || entry.hidden || entry.app.exec.isEmpty() || entry.app.name.isEmpty())
                continue;
            if (std::none_of(entry.mimeTypes.begin(), entry.mimeTypes.end(),
                             [&](const QString& listed) { return wanted.contains(listed); }))
                continue;
            entry.app.id = id;
            apps.push_back(std::move(entry.app));
        }
    }
    std::sort(apps.begin(), apps.end(), [](const DesktopApp& a, const DesktopApp& b) {
        const int order = QString::compare(a.name, b.name, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.id < b.id;
    });
    return apps;
}

QStringList commandFor(const QString& exec, const QString& file)
{
    QStringList command;
    bool placed = false;
    for (const QString& part : splitExec(exec)) {
        QString argument;
        bool dropped = false;
        for (qsizetype i = 0; i < part.size(); ++i) {
            if (part[i] != QLatin1Char('%') || i + 1 == part.size()) {
                argument += part[i];
                continue;
            }
            const QChar code = part[++i];
            if (code == QLatin1Char('%')) {
                argument += code;
            } else if (QStringLiteral("fFuU").contains(code)) {
                argument += file;
                placed = true;
            } else {
                dropped = true;  // %i, %c, %k and the deprecated codes stand for nothing here
            }
        }
        if (!argument.isEmpty() || !dropped)
            command << argument;
    }
    if (command.isEmpty() || command.front().isEmpty())
        return {};
    if (!placed)
        command << file;
    return command;
}

} // namespace tamsin::app
