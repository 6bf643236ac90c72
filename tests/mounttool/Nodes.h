#pragma once

#include "collection/Fendrel.h"
#include "platform/AnsiText.h"

#include <cstdint>
#include <string>

// Adds a node below parent (0: a disc) with a UTF-8 name, a whole size and a last-write time (a
// FILETIME); a disc gets no time, as discs have none of their own.
inline uint32_t AddEntry(TFendrel& collection, uint32_t parent, uint32_t kind,
                         const std::string& utf8, uint64_t size = 0, uint64_t time = 0)
{
    TCollectionNode value;
    value.Name = Utf8ToAnsi(utf8);
    value.Flags = kind;
    value.ParentId = parent;
    if (kind != nfDisc) {
        value.WriteTimeLow = static_cast<uint32_t>(time);
        value.WriteTimeHigh = static_cast<uint32_t>(time >> 32);
    }
    TCollectionNode& node = collection.AddNode(
        parent == 0 ? collection.Discs : collection.GetNode(parent).Children, value);
    node.SetFullSize(size);
    return node.Id;
}
