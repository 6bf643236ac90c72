#pragma once

#include "platform/Volume.h"

#include <memory>
#include <string>

// A folder of the file system read as a disc: where a disc is mounted, or a folder standing for
// one. Symbolic links are listed as files and never followed. label: 8-bit. nullptr when the
// folder cannot be opened.
[[nodiscard]] std::unique_ptr<IVolume> OpenFolderVolume(const std::string& folder,
                                                        std::string label);
