#pragma once

#include <cstdint>
#include <string>
#include <vector>

class QPagedPaintDevice;
class TFendrel;

// What a printed listing shows of one disc: its facts, then its tree in the order of the tree.
// Texts are UTF-8, as they are printed.
struct TDiscListing {
    std::string Title;
    std::string Label; // the volume label; empty when unknown
    std::string Added; // "1.02.2005", empty when unknown
    uint64_t Files = 0;
    uint64_t Folders = 0;
    uint64_t Size = 0; // of every file
    struct TLine {
        int Depth = 0; // 0 just below the disc
        std::string Name;
        bool Folder = false;
        uint64_t Size = 0; // a folder's: the total of its files
        std::string Date;  // "1.02.2005 05:07", empty when there is none
    };
    std::vector<TLine> Lines;
};

// The listing of the disc with the id; dates in local time utcOffsetSeconds east of UTC.
[[nodiscard]] TDiscListing MakeDiscListing(const TFendrel& collection, uint32_t disc,
                                           int64_t utcOffsetSeconds);

// Paints the listing onto the device's pages, whatever their size: a header on every page (the
// title and the page number), the disc's facts on the first, then a line per folder and file in
// columns of name (indented by depth), size and date. A small page, such as a 120 x 120 mm CD
// insert, gets a smaller type, and the listing goes on over as many pages as it needs. Returns
// the number of pages.
int PaintDiscListing(QPagedPaintDevice& device, const TDiscListing& listing);
