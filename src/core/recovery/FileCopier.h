#pragma once
// Copies a file's data from the volume into an open descriptor: its blocks
// in the order its chain gives them, holes as zeros, a suballocated
// fragment, a compressed file's stored length; unreadable sectors are
// written as zeros and counted.

#include "recovery/Extraction.h"

namespace tamsin {

class FileWriter;
class MountedVolume;
class SectorReader;
class SuballocationChains;

// The part of extractFile after the destination exists. result.outcome tells
// how it ended; every write, a writer's included, is made by then. With a
// writer, the pieces of a file larger than one piece are written on its
// thread while the next ones are read.
void copyFileContents(const MountedVolume& volume, const SectorReader& reader, RecoveryRunState& run,
                      ExtractionObserver& observer, const ExtractRequest& request, int fd, ExtractResult& result,
                      FileWriter* writer = nullptr, SuballocationChains* chains = nullptr);

} // namespace tamsin
