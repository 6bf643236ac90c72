#pragma once

#include "discs/Volume.h"

#include <memory>
#include <string>

// The file system of an image file or of an unmounted disc's device node: UDF or ISO 9660,
// whichever holds the disc best. A disc with both (a UDF bridge) is read through UDF when its
// root folder lists at least as many entries as the ISO 9660 root: UDF then holds the same tree
// with whole names and whole sizes. nullptr when the file holds neither.
[[nodiscard]] std::unique_ptr<IVolume> OpenDiscImage(const std::string& path);
