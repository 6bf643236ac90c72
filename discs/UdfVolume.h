#pragma once

#include "discs/Volume.h"

#include <memory>
#include <string>

// The UDF file system of an image file or of a disc's device node, read without mounting: every
// revision from 1.02 to 2.60, with physical, sparable, virtual (VAT) and metadata partitions,
// file entries of both kinds and all kinds of allocation descriptors. nullptr when there is no
// readable UDF file system. Nothing is read outside the file, and no directory larger than the
// file is read into memory.
[[nodiscard]] std::unique_ptr<IVolume> OpenUdfVolume(const std::string& path);
