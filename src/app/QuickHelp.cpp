#include "QuickHelp.h"

#include <QRegularExpression>
#include <QStringList>

namespace tamsin::app {

QString quickHelpHtml(const std::string& text)
{
    static const char* const commands[] = {"Recover Selected", "Recover All", "Recovery Menu", "Search Partitions",
                                           "Next Button"};
    QStringList lines;
    for (const QString& line : QString::fromStdString(text).split(QRegularExpression(QStringLiteral("\r?\n")))) {
        QString words = line.simplified().toHtmlEscaped();
        if (words.isEmpty())
            continue;
        for (const char* command : commands) {
            const QString name = QString::fromUtf8(command);
            QString kept = name;
            kept.replace(QLatin1Char(' '), QStringLiteral("&nbsp;"));
            words.replace(name, QStringLiteral("<b>%1</b>").arg(kept));
        }
        lines.push_back(words);
    }
    return lines.join(QStringLiteral("<br>"));
}

} // namespace tamsin::app
