#pragma once

#include "discs/Volume.h"

#include <memory>
#include <string>
#include <string_view>

// The ISO 9660 file system of an image file or of a disc's device node, read without mounting.
// Names are the Joliet names when the disc has them, else the Rock Ridge names, else the ISO 9660
// names without their ";1" version (read as code page 1251 where they are not UTF-8). nullptr when
// there is no readable ISO 9660 file system.
[[nodiscard]] std::unique_ptr<IVolume> OpenIsoVolume(const std::string& path);

// A name as read from the disc, shortened to its last whole UTF-8 character: long names may come
// back cut inside a character.
[[nodiscard]] std::string_view WithoutCutCharacter(std::string_view utf8);
