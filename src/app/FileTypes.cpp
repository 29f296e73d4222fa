#include "FileTypes.h"

#include <QApplication>
#include <QMimeType>
#include <QPainter>
#include <QStyle>

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

QIcon FileTypes::damagedIcon(const QIcon& base) const
{
    auto found = damaged_.constFind(base.cacheKey());
    if (found != damaged_.constEnd())
        return *found;
    const QIcon warning = QIcon::fromTheme(QStringLiteral("dialog-warning"),
                                           QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning));
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        QPixmap pixmap = base.pixmap(size, size);
        if (pixmap.isNull()) {
            pixmap = QPixmap(size, size);
            pixmap.fill(Qt::transparent);
        }
        QPainter painter(&pixmap);
        const int emblem = size * 5 / 8;
        painter.drawPixmap(size - emblem, size - emblem, warning.pixmap(emblem, emblem));
        painter.end();
        icon.addPixmap(pixmap);
    }
    damaged_.insert(base.cacheKey(), icon);
    return icon;
}

QIcon FileTypes::volumeIcon() const
{
    return provider_.icon(QFileIconProvider::Drive);
}

} // namespace tamsin::app
