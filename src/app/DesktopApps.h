#pragma once
// The desktop's applications for a file type, read from the .desktop files
// of the XDG application folders, and the command line one of them runs.

#include <QString>
#include <QStringList>

#include <vector>

namespace tamsin::app {

struct DesktopApp {
    QString id;    // the desktop file's name, e.g. "org.gnome.gedit.desktop"
    QString name;  // as the desktop shows it
    QString icon;  // a theme icon name or an absolute path; may be empty
    QString exec;  // the Exec line
    bool terminal = false;  // runs in a terminal (Terminal=true)
};

// Applications whose MimeType names mimeType or one of the types it is a
// kind of (text/x-log is text/plain), from folders in order of precedence
// (the first folder that has a desktop file id decides it), hidden and
// NoDisplay entries left out; sorted by name. The folders default to the
// XDG application folders.
std::vector<DesktopApp> applicationsFor(const QString& mimeType, const QStringList& folders = {});

// The program and arguments of exec for one local file: %f %F %u %U stand
// for the file (it is appended when there is none), other field codes are
// dropped, quoted arguments keep their blanks. Empty when exec names no
// program.
QStringList commandFor(const QString& exec, const QString& file);

} // namespace tamsin::app
