#include "ContainerImages.h"

#include "RunCommand.h"

#include <gtest/gtest.h>

namespace tamsin::test {
namespace {

struct Recipe {
    const char* extension;
    std::vector<std::string> qemuOptions;  // empty for ewfacquire
};

Recipe recipeFor(const std::string& label)
{
    if (label == "vmdkSparse")
        return {".vmdk", {"-O", "vmdk"}};
    if (label == "vmdkFlat")
        return {".vmdk", {"-O", "vmdk", "-o", "subformat=monolithicFlat"}};
    if (label == "vmdkSplit")
        return {".vmdk", {"-O", "vmdk", "-o", "subformat=twoGbMaxExtentSparse"}};
    if (label == "vhdDynamic")
        return {".vhd", {"-O", "vpc", "-o", "subformat=dynamic"}};
    if (label == "vhdFixed")
        return {".vhd", {"-O", "vpc", "-o", "subformat=fixed"}};
    if (label == "vhdx")
        return {".vhdx", {"-O", "vhdx"}};
    if (label == "qcow2")
        return {".qcow2", {"-O", "qcow2"}};
    if (label == "qcow2Compressed")
        return {".qcow2", {"-O", "qcow2", "-c"}};
    return {".E01", {}};
}

bool onPath(const std::string& tool)
{
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

std::vector<ContainerKind> containerKinds()
{
    return {{"vmdkSparse", DiskFormat::Vmdk}, {"vmdkFlat", DiskFormat::Vmdk}, {"vmdkSplit", DiskFormat::Vmdk},
            {"vhdDynamic", DiskFormat::Vhd},  {"vhdFixed", DiskFormat::Vhd},  {"vhdx", DiskFormat::Vhdx},
            {"qcow2", DiskFormat::Qcow2},     {"qcow2Compressed", DiskFormat::Qcow2}, {"ewf", DiskFormat::Ewf}};
}

std::filesystem::path makeContainer(const std::filesystem::path& raw, const ContainerKind& kind,
                                    const std::filesystem::path& folder, const std::string& name)
{
    const Recipe recipe = recipeFor(kind.label);
    const std::filesystem::path target = folder / (name + recipe.extension);
    const std::string tool = recipe.qemuOptions.empty() ? "ewfacquire" : "qemu-img";
    if (!onPath(tool)) {
        ADD_FAILURE() << tool << " is not installed (scripts/install-deps.sh installs it); it writes the "
                      << kind.label << " fixture";
        return target;
    }
    std::vector<std::string> args;
    if (recipe.qemuOptions.empty()) {
        // Unattended, uncompressed, 1 MiB segments: a few-MiB disk spans E01, E02, ...
        args = {"-u", "-q", "-c", "none", "-S", "1048576", "-t", (folder / name).string(), raw.string()};
    } else {
        args = {"convert", "-q", "-f", "raw"};
        args.insert(args.end(), recipe.qemuOptions.begin(), recipe.qemuOptions.end());
        args.insert(args.end(), {raw.string(), target.string()});
    }
    const CommandResult r = runCommand(tool, args, folder);
    EXPECT_EQ(r.status, 0) << tool << " failed writing " << target << ": " << r.err << r.out;
    EXPECT_TRUE(std::filesystem::exists(target)) << target;
    return target;
}

} // namespace tamsin::test
