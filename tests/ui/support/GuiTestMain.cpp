// main() of the GUI test programs: a QApplication on the offscreen platform
// unless the caller chose another, then GoogleTest.

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The font libraries below Qt keep their caches until the process ends;
// LeakSanitizer is told about those libraries only, so a leak in the
// program's own code (or in Qt) is still reported.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libfreetype.so\n";
}

#include <cstdio>

namespace {

QtMessageHandler standardHandler = nullptr;

// The offscreen platform says so for every window it cannot raise or size,
// and Qt notes the missing runtime folder of a bare test machine; those
// lines only hide the test output that matters.
void quietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QStringLiteral("This plugin does not support"))
        || message.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR not set")))
        return;
    if (standardHandler)
        standardHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

int main(int argc, char* argv[])
{
    standardHandler = qInstallMessageHandler(quietOffscreen);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The file dialogs must be Qt's own widgets so the tests can answer them.
    qunsetenv("QT_QPA_PLATFORMTHEME");
    // Settings the tests change go to a folder of this process alone: not the
    // user's, and not shared with runs beside it or left by a killed one.
    QStandardPaths::setTestModeEnabled(true);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    const QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    return RUN_ALL_TESTS();
}
