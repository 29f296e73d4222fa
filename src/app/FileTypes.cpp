#include "FileTypes.h"

#include <QMimeType>

namespace tamsin::app {

QString FileTypes::extensionOf(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : fileName.mid(dot + 1).toLower();
}

QString FileTypes::typeName(const QString& fileName) const
{
    const QString extension = extensionOf(fileName);
    auto found = names_.constFind(extension);
    if (found != names_.constEnd())
        return *found;
    const QMimeType type = mimes_.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    const QString name = type.comment().isEmpty() ? type.name() : type.comment();
    names_.insert(extension, name);
    return name;
}

QIcon FileTypes::icon(const QString& fileName) const
{
    const QString extension = extensionOf(fileName);
    auto found = icons_.constFind(extension);
    if (found != icons_.constEnd())
        return *found;
    const QMimeType type = mimes_.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    if (icon.isNull())
        icon = provider_.icon(QFileIconProvider::File);
    icons_.insert(extension, icon);
    return icon;
}

QIcon FileTypes::folderIcon() const
{
    return provider_.icon(QFileIconProvider::Folder);
}

QIcon FileTypes::volumeIcon() const
{
    return provider_.icon(QFileIconProvider::Drive);
}

} // namespace tamsin::app
