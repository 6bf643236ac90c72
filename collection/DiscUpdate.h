#pragma once

#include <cstdint>

class TFendrel;

// Makes the tree below the disc of target a copy of the tree below the disc from of source (a new
// scan of it): the old folders and files are detached as TFendrel::DeleteDisc detaches a disc's,
// so they stay findable by id, and the copies get new ids, each folder's before its contents. The
// disc node itself, its title, its place among the discs and its record stay; content checksums
// that source holds for its files go with the copies. Returns how many nodes were copied.
int64_t ReplaceDiscTree(TFendrel& target, uint32_t disc, const TFendrel& source, uint32_t from);

// Appends to target a new disc that is a copy of the disc from of source: its title, its tree
// (ids given in the same order as ReplaceDiscTree gives them), its record and its files' content
// checksums. Returns the new disc's id.
uint32_t AppendDiscCopy(TFendrel& target, const TFendrel& source, uint32_t from);

// Gives each file of the tree below the disc to of scan the content checksum that collection
// records for the file at the same path below its disc from, when both have the same size and
// last-write time and the file of scan has none yet: the content of a file the scan found
// unchanged is taken to be the one checked before. Names are compared byte for byte.
void CarryChecksums(const TFendrel& collection, uint32_t from, TFendrel& scan, uint32_t to);
