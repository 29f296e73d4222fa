#pragma once
// Start-up of the wizard in access mode F.

#include <QString>

class QWidget;

namespace tamsin::app {

// Loads the process's helper libraries from their default folder. On a
// failure shows its message in a stop box and returns false; the program
// then ends.
bool loadHelperLibraries(QWidget* parent = nullptr);

// The access mode named by an --access-mode value: 'N' or 'F', else 0.
char accessModeLetter(const QString& value);

} // namespace tamsin::app
