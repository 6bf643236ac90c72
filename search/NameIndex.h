#pragma once

#include "search/FindQuery.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

class TFendrel;

// A collection file as the index knows it: a file changed in any way since the index was made
// (written again, replaced by another, touched) differs in one of these.
struct TCollectionIdentity {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    uint64_t Size = 0;
    uint64_t ModifiedNs = 0;
    uint64_t ChangedNs = 0; // the status change time, which no program can set back
    friend bool operator==(const TCollectionIdentity&, const TCollectionIdentity&) = default;
};

// Thrown when an index turns out damaged, or not to fit the collection file, while a search
// reads it: the search is then made over the collection itself.
class ENameIndexDamaged : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes the index of a collection: the text of its file, and the collection loaded from that
// text. Its entries are numbered as TFindSnapshot numbers them. Each file and folder is kept as the
// place of its record line in the file and its parent; a trigram filter over the folded names
// narrows a search to a few blocks of entries; what the record lines do not tell (folder totals,
// anything a hand-made line says otherwise) is kept beside. The sink takes the index piece by
// piece, in order; false from it stops the writing, and the function returns false. A collection of
// at least entriesForTwoThreads files and folders is indexed on two threads when the machine has
// two processors; the index is the same byte for byte. collectionRead, when given, is called as
// soon as the collection is read no more, while the rest of the index is written (on a second
// thread when there are two): it may free the collection, whose memory then serves what is written.
using TIndexSink = std::function<bool(std::string_view bytes)>;
[[nodiscard]] bool WriteNameIndex(std::string_view collectionText, const TFendrel& collection,
                                  const TCollectionIdentity& identity,
                                  std::string_view collectionPath, const TIndexSink& sink,
                                  uint64_t entriesForTwoThreads = 100'000,
                                  const std::function<void()>& collectionRead = {});

// An index over its bytes (which must outlive it) and the text of the collection file it was made
// from. Nothing in the bytes is trusted: every part read is checked against its checksum and its
// bounds first, and anything wrong throws ENameIndexDamaged. It remembers what it has checked.
// Item, DiscOf and Path may be called from several threads at once; Find from one at a time.
class TNameIndex {
public:
    // The index, or nothing when the bytes are no index, a damaged one, or one made from another
    // file or another state of it.
    [[nodiscard]] static std::unique_ptr<TNameIndex> Open(std::string_view bytes,
                                                          std::string_view collectionText,
                                                          const TCollectionIdentity& identity,
                                                          std::string_view collectionPath);
    ~TNameIndex();

    static constexpr uint32_t NoParent = UINT32_MAX;
    struct TItem {
        std::string_view Name;
        uint32_t Flags = 0; // nfFile, nfFolder or nfDisc
        uint64_t Size = 0;  // as the search compares it: a folder's is that of its files
        uint64_t Time = 0;
        uint32_t Parent = NoParent;
    };

    [[nodiscard]] size_t size() const;
    [[nodiscard]] TItem Item(uint32_t entry) const;
    // Asks the processor for the memory that Item(entry) reads first; only a hint, that reads
    // nothing it has not checked. Of two entries to come, the farther one's record should be
    // asked for first (whole), the nearer one's line then.
    void PrefetchRecord(uint32_t entry) const;
    void PrefetchLine(uint32_t entry) const;
    // Every file and folder the query matches, in the order the search over the collection's
    // snapshot gives them (entry numbers are the snapshot's indexes).
    void Find(TFindQuery& query, std::vector<uint32_t>& hits) const;
    // A search with at least this many candidates tests them on two threads (when the machine
    // has two processors). Only tests change it.
    void SetEntriesForTwoThreads(uint64_t entries) { EntriesForTwoThreads_ = entries; }
    [[nodiscard]] uint32_t DiscOf(uint32_t entry) const;
    // As TFindSnapshot::Path gives it.
    [[nodiscard]] std::string Path(uint32_t entry, char separator) const;

private:
    struct TParts;
    class TEntryTester;
    explicit TNameIndex(std::unique_ptr<TParts> parts);
    std::unique_ptr<TParts> Parts_;
    uint64_t EntriesForTwoThreads_ = 1'000'000;
};

// The sequences of three folded characters that every name the query can match holds, as the
// index keys them; empty when the query requires none (then every name is a candidate).
[[nodiscard]] std::vector<uint32_t> RequiredTrigrams(const TFindQuery& query);
