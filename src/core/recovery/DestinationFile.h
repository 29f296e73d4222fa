#pragma once
// The local file one copy writes: made new, or opened under the duplicate
// rule, and at the end given the entry's time and closed.

#include "common/FileDescriptor.h"
#include "recovery/Extraction.h"

#include <ctime>
#include <optional>
#include <string>

namespace tamsin {

class FileWriter;

// Makes path a new empty file for writing, as a run first tries to: invalid
// (errno set) when the name is taken or the file cannot be made.
FileDescriptor createNewFile(const std::string& path);

// Opens the destination of request for writing and sets result's path and
// name. created, when valid, is the file already made under the request's
// name. In recovery mode a run with a writer first tries to make the file
// new; a taken name then follows the duplicate rule (skip, a free "Copy (n )
// of" name, or overwrite), and the observer hears that the file starts.
// Invalid, with result.outcome telling why, when nothing is to be written; a
// failed create may abandon the run if the observer says so.
FileDescriptor openDestination(RecoveryRunState& run, ExtractionObserver& observer, const ExtractRequest& request,
                               FileWriter* writer, FileDescriptor created, ExtractResult& result);

// The time a copy gives its destination: the entry's modification stamp,
// else its creation stamp, when one is a real date; none for a copy that
// did not end written.
std::optional<timespec> destinationTime(const ExtractRequest& request, const ExtractResult& result);

// Sets the destination's time and closes it: on the writer's thread when
// there is one, else here, where a failed close turns a written result into
// a failed write.
void closeDestination(FileDescriptor fd, const ExtractRequest& request, ExtractResult& result, FileWriter* writer);

} // namespace tamsin
