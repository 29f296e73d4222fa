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

private:
    static QString extensionOf(const QString& fileName);

    QMimeDatabase mimes_;
    QFileIconProvider provider_;
    mutable QHash<QString, QString> names_;
    mutable QHash<QString, QIcon> icons_;
};

} // namespace tamsin::app
