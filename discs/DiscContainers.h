#pragma once

#include "discs/SectorMap.h"

#include <memory>
#include <string>

// What an image file turned out to be.
enum class TContainerKind {
    Plain,   // 2048-byte blocks from its start (an .iso, a device node, anything unrecognised)
    Sectors, // a container whose data tracks the map reads
    Damaged, // a container that cannot be read, or one without any data track (an audio CD)
};

struct TContainer {
    TContainerKind Kind = TContainerKind::Plain;
    std::unique_ptr<TSectorMap> Map; // only for Sectors
};

// Recognises the disc image containers: a .cue sheet with its .bin files, Nero .nrg, Alcohol
// .mds with its .mdf (or an .mdf alone), CloneCD .ccd with its .img, and raw images of
// 2352-byte sectors whatever their name. Choosing the data file of a container whose descriptor
// lies beside it (same name, .cue, .ccd or .mds) reads the container. fd is the file at path,
// already open, of size bytes. Nothing is read outside the files.
[[nodiscard]] TContainer OpenContainer(const std::string& path, int fd, uint64_t size);
