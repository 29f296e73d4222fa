// main() of the GUI test programs: a QApplication on the offscreen platform
// unless the caller chose another, then GoogleTest.

#include <QApplication>

#include <gtest/gtest.h>

// Qt's platform and font code and the libraries below it keep some
// allocations until the process ends; LeakSanitizer is told about those
// libraries only, so a leak in the program's own code is still reported.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libfreetype.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libdbus-1.so\n";
}

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The file dialogs must be Qt's own widgets so the tests can answer them.
    qunsetenv("QT_QPA_PLATFORMTHEME");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
