#pragma once
// Type names and icons of files by their extension, from the MIME database
// and the icon theme, remembered per extension.

#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QString>

namespace tamsin::app {

class FileTypes {
public:
    // The description of the MIME type the name's extension suggests.
    QString typeName(const QString& fileName) const;
    QIcon icon(const QString& fileName) const;
    QIcon folderIcon() const;
    QIcon volumeIcon() const;
    // base with a warning emblem in its lower right corner: an entry that
    // lies on unreadable sectors.
    QIcon damagedIcon(const QIcon& base) const;

private:
    static QString extensionOf(const QString& fileName);

    QMimeDatabase mimes_;
    QFileIconProvider provider_;
    mutable QHash<QString, QString> names_;
    mutable QHash<QString, QIcon> icons_;
    mutable QHash<qint64, QIcon> damaged_;  // by the base icon's cache key
};

} // namespace tamsin::app
