#pragma once
// Opening a file for viewing: a quiet extraction into a private folder,
// then the desktop's program for its type, or a chooser of programs.

#include "recovery/Extraction.h"

#include <string>

namespace tamsin {
struct TreeNode;
}

namespace tamsin::app {

// What starts programs; the GUI implements it with the desktop's services.
class Launcher {
public:
    virtual ~Launcher() = default;
    // Opens path with the program associated with its type; false when the
    // type has no program (the caller then offers the chooser).
    virtual bool open(const std::string& path) = 0;
    // Lets the user choose a program for path.
    virtual void openWith(const std::string& path) = 0;
};

enum class OpenOutcome { Launched, CompressedRefused, NotExtracted };

struct OpenResult {
    OpenOutcome outcome = OpenOutcome::NotExtracted;
    ExtractResult extraction;
};

// Extracts file into tempFolder (overwriting a file of the same name) and
// launches it; a compressed file is refused with ExtractNotice::CompressedNotOpened. An
// empty tempFolder extracts nothing.
OpenResult openFile(const MountedVolume& volume, const SectorReader& reader, RecoveryRunState& run,
                    ExtractionObserver& observer, const TreeNode& file, const std::string& safeName,
                    const std::string& tempFolder, bool openWith, Launcher& launcher);

} // namespace tamsin::app
