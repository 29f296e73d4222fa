// The desktop's applications for a type, and the command line one runs.

#include "DesktopApps.h"

#include "TempDir.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace tamsin::app {
namespace {

struct CommandCase {
    const char* exec;
    QStringList command;
};

void PrintTo(const CommandCase& c, std::ostream* out)
{
    *out << c.exec;
}

class CommandFor : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandFor, PlacesTheFileAndDropsOtherFieldCodes)
{
    EXPECT_EQ(commandFor(QString::fromUtf8(GetParam().exec), QStringLiteral("/run/t/A B.TXT")), GetParam().command);
}

INSTANTIATE_TEST_SUITE_P(
    ExecLines, CommandFor,
    ::testing::Values(CommandCase{"gedit %U", {"gedit", "/run/t/A B.TXT"}},
                      CommandCase{"mousepad", {"mousepad", "/run/t/A B.TXT"}},
                      CommandCase{"\"/opt/My Editor/ed\" --new %f %i %c", {"/opt/My Editor/ed", "--new", "/run/t/A B.TXT"}},
                      CommandCase{"viewer --file=%f --rate=50%%", {"viewer", "--file=/run/t/A B.TXT", "--rate=50%"}},
                      CommandCase{"sh -c \"echo \\\"hi\\\"\" %F", {"sh", "-c", "echo \"hi\"", "/run/t/A B.TXT"}},
                      CommandCase{"  %k  ", {}}));

void writeDesktopFile(const std::filesystem::path& path, const std::string& body)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "[Desktop Entry]\nType=Application\n" << body << "\n[Desktop Action new]\nName=Ignored\n";
}

TEST(ApplicationsFor, TypesAndTheirParentsTheFirstFolderDecidesAndHiddenOnesStayOut)
{
    test::TempDir dir;
    const auto home = dir / "home";
    const auto system = dir / "system";
    writeDesktopFile(system / "zed.desktop", "Name=Zed\nExec=zed %U\nTerminal=true\nMimeType=text/plain;");
    writeDesktopFile(system / "viewer.desktop", "Name=Image Viewer\nExec=view %f\nMimeType=image/png;");
    writeDesktopFile(system / "kde" / "kate.desktop", "Name=Kate\nName[de]=Kate DE\nExec=kate %U\nMimeType=text/plain;");
    writeDesktopFile(system / "quiet.desktop", "Name=Quiet\nExec=quiet\nNoDisplay=true\nMimeType=text/plain;");
    writeDesktopFile(system / "editor.desktop", "Name=Editor\nExec=editor\nMimeType=text/plain;");
    // The user's own file of the same id hides the system one.
    writeDesktopFile(home / "editor.desktop", "Name=Editor\nExec=editor\nHidden=true\n");

    const QStringList folders{QString::fromStdString(home.string()), QString::fromStdString(system.string())};
    auto names = [&](const QString& type) {
        QStringList found;
        for (const DesktopApp& app : applicationsFor(type, folders))
            found << app.name + QLatin1Char('=') + app.id;
        return found;
    };
    EXPECT_EQ(names(QStringLiteral("text/plain")), (QStringList{"Kate=kde-kate.desktop", "Zed=zed.desktop"}));
    EXPECT_EQ(names(QStringLiteral("text/x-log")), names(QStringLiteral("text/plain"))) << "a kind of text/plain";
    EXPECT_EQ(names(QStringLiteral("image/png")), QStringList{"Image Viewer=viewer.desktop"});
    EXPECT_TRUE(names(QStringLiteral("application/x-nothing")).isEmpty());
    EXPECT_TRUE(applicationsFor(QStringLiteral("text/plain"), folders).back().terminal) << "Zed runs in a terminal";
}

} // namespace
} // namespace tamsin::app
