#pragma once
// The folder files opened for viewing are extracted into: the user's own
// (mode 0700, a name nobody can guess), not the shared temporary folder,
// and removed with its files when its owner ends.

#include <string>

namespace tamsin {

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

private:
    std::string path_;
};

} // namespace tamsin
