#pragma once
// Opens whatever the user names as a disk: a block device or raw image file
// read directly, or a container image read through its library. The format
// comes from the content, never the name.

#include "disk/Device.h"
#include "disk/DiskFormat.h"
#include "disk/FileDevice.h"

#include <memory>
#include <string>

namespace tamsin {

// Null on failure, with error (if given) naming the path, the format and the
// library's reason. format (if given) receives the detected format; a block
// device is always raw.
std::unique_ptr<Device> openDiskDevice(const std::string& path, OpenError* error = nullptr,
                                       DiskFormat* format = nullptr);

} // namespace tamsin
