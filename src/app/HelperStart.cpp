#include "HelperStart.h"

#include "disk/HelperLibraries.h"
#include "ui/MessageDialog.h"

namespace tamsin::app {

bool loadHelperLibraries(QWidget* parent)
{
    const std::string failure = HelperLibraries::process().load(HelperLibraries::defaultFolder());
    if (failure.empty())
        return true;
    ui::MessageDialog::show(parent, failure, ui::MessageKind::Error);
    return false;
}

char accessModeLetter(const QString& value)
{
    if (value == QLatin1String("N"))
        return 'N';
    if (value == QLatin1String("F"))
        return 'F';
    return 0;
}

} // namespace tamsin::app
