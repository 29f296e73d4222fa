#pragma once
// Builder-made disks holding one NetWare volume with the given contents, and
// a mount observer that records what a mount reports.

#include "imagebuilder/ImageBuilder.h"
#include "imagebuilder/Manifest.h"
#include "mount/MountObserver.h"
#include "session/Session.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tamsin::test {

struct BuiltVolume {
    std::string imagePath;
    std::shared_ptr<const imagebuilder::VolumeManifest> manifest;
};

// A disk with one NetWare partition at sector 2048 holding volume "SYS" with
// contents (and sectorsPerBlock sectors per block). Fails the test on a
// builder error.
BuiltVolume buildVolume(const std::filesystem::path& imagePath, imagebuilder::VolumeContents contents,
                        std::uint32_t sectorsPerBlock = 8);

// A rescue map (ddrescue mapfile) of an image of imageBytes bytes in which
// the given sectors were never read and all others were.
std::string rescueMapText(std::uint64_t imageBytes, const std::set<std::uint64_t>& unread);

// Opens the image, reads its volume tables and selects volume 0.
void openAndSelect(Session& session, const std::string& imagePath);

// buildVolume, openAndSelect, and the mount of the volume in session. Fails
// the test (the manifest is then null) when a step fails.
BuiltVolume buildAndMount(Session& session, const std::filesystem::path& imagePath,
                          imagebuilder::VolumeContents contents, std::uint32_t sectorsPerBlock = 8);

// The first file of the volume named name; fails the test when there is none.
const TreeNode& fileNamed(const MountedVolume& volume, const std::string& name);

class RecordingMountObserver : public MountObserver {
public:
    std::vector<MountStatus> statuses;
    std::vector<MountInstruction> instructions;
    std::string volumeName;  // as the last status gave it
    std::vector<MountStage> stages;
    std::vector<TableKind> chooserCalls;
    std::vector<int> progress;
    std::vector<CopyChoice> answers;  // given in turn; First when none is left
    std::function<void(int)> onProgress;

    void mountStatus(MountStatus status, const std::string& name) override
    {
        statuses.push_back(status);
        volumeName = name;
    }
    void mountProgress(int percent) override
    {
        progress.push_back(percent);
        if (onProgress)
            onProgress(percent);
    }
    void mountInstruction(MountInstruction instruction) override { instructions.push_back(instruction); }
    void mountStage(MountStage stage) override { stages.push_back(stage); }
    CopyChoice chooseCopy(TableKind kind) override
    {
        chooserCalls.push_back(kind);
        if (answers.empty())
            return CopyChoice::First;
        const CopyChoice answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    bool sawStatus(MountStatus status) const;
};

} // namespace tamsin::test
