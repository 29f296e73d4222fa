#pragma once
// The folder files opened for viewing are extracted into: the user's own
// (mode 0700, a name nobody can guess), not the shared temporary folder,
// and removed with its files when its owner ends.

#include <string>

namespace tamsin::app {

class PrivateFolder {
public:
    PrivateFolder() = default;
    ~PrivateFolder() { remove(); }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // The folder, made on first use as tamsin-XXXXXX (mkdtemp) under
    // $XDG_RUNTIME_DIR, or under $TMPDIR (default /tmp) when that is unset or
    // the folder cannot be made there; empty when it cannot be made at all.
    const std::string& path();

    // Removes the folder and everything in it; the next path() makes a new one.
    void remove();

    // Removes the folders a process of this user left behind when it was
    // killed or crashed: tamsin-* folders of the user, in the places path()
    // uses, whose pid file names a process that no longer runs. Folders
    // without a pid file are left alone. Returns how many were removed.
    static int removeAbandoned();

    // The file inside the folder that holds the owning process's id.
    static constexpr const char* kPidFile = ".tamsin-pid";

private:
    std::string path_;
};

} // namespace tamsin::app
