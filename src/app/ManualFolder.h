#pragma once
// Where the user manual lies: installed beside the program, or in the
// source tree for a program run from its build tree.

#include <QString>

namespace tamsin::app {

// The installed manual folder (the data folder relative to the program's
// folder) when it holds the manual, else the source tree's; empty when
// neither does.
QString defaultManualFolder();

} // namespace tamsin::app
