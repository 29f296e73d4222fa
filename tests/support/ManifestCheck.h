#pragma once
// Compares what Tamsin reads from builder-made disks with the builder's
// manifest: the volume rows, the mounted entries and every file's bytes.

#include "imagebuilder/ImageBuilder.h"
#include "imagebuilder/Manifest.h"
#include "session/Session.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tamsin::test {

// Opens the images into session (the first as the selected disk) and reads
// the volume tables of all of them.
void openDisks(Session& session, const std::vector<std::filesystem::path>& images);

// The volume rows match the builder's rows: names, start sectors, sizes,
// segment fields and block sizes, in order.
void expectRowsMatch(const VolumeTable& table, const std::vector<imagebuilder::TableRow>& rows);

// Mounts record `row` of the session's table and checks every entry against
// the manifest (names, ids, sizes, stamps, entry sectors) and every file's
// extracted bytes against expectedData(), written under folder.
void expectMountMatches(Session& session, std::uint32_t row, const imagebuilder::VolumeManifest& manifest,
                        const std::filesystem::path& folder);

} // namespace tamsin::test
