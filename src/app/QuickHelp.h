#pragma once
// The Quick Help panel's texts are stored laid out with runs of blanks for a
// fixed-width panel; shown in a panel of any width they flow as words, one
// paragraph per stored line, with the command names in bold and unbroken.

#include <QString>

#include <string>

namespace tamsin::app {

QString quickHelpHtml(const std::string& text);

} // namespace tamsin::app
