#pragma once

#include "discs/Volume.h"

#include <memory>
#include <string>

// A folder of the file system read as a disc: where a disc is mounted, or a folder standing for
// one. Symbolic links are listed as files and never followed, and the walk stays on the folder's
// own mount: a file system or bind mount inside is listed as an empty folder. label: 8-bit.
// nullptr when the folder cannot be opened.
[[nodiscard]] std::unique_ptr<IVolume> OpenFolderVolume(const std::string& folder,
                                                        std::string label);

// The label of a folder added as a disc: the file system's label as udev records it under byLabel
// when a file system is mounted at the folder, otherwise the folder's own name. 8-bit.
[[nodiscard]] std::string FolderLabel(const std::string& folder,
                                      const std::string& byLabel = "/dev/disk/by-label");
