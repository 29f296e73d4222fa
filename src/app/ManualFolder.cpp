#include "ManualFolder.h"

#include "WizardTexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace tamsin::app {

QString defaultManualFolder()
{
    const QString installed = QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/')
                                              + QStringLiteral(TAMSIN_INSTALLED_MANUAL_DIR));
    for (const QString& folder : {installed, QStringLiteral(TAMSIN_SOURCE_MANUAL_DIR)})
        if (QFileInfo::exists(folder + QLatin1Char('/') + QString::fromUtf8(text::kManualPage)))
            return folder;
    return {};
}

} // namespace tamsin::app
