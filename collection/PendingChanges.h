#pragma once

#include "collection/CollectionChange.h"

#include <cstddef>
#include <utility>
#include <vector>

class TFendrel;

// The changes a window has made to its collection since its file last took them, oldest first.
// A save that is refused keeps them all; when another program has written the file meanwhile,
// the next save makes every one of them again, in order, on what the file holds then. Any kind
// of TCollectionChange can wait here: each is replayed through its own ApplyTo.
class TPendingChanges {
public:
    void Add(TCollectionChange change) { Changes_.push_back(std::move(change)); }
    // Makes every change, oldest first, on target, a collection read from the file; source is the
    // collection the changes were made to.
    void ApplyTo(const TFendrel& source, TFendrel& target) const;
    // The file holds every change now.
    void Clear() { Changes_.clear(); }

    [[nodiscard]] bool empty() const { return Changes_.empty(); }
    [[nodiscard]] size_t size() const { return Changes_.size(); }

private:
    std::vector<TCollectionChange> Changes_;
};
