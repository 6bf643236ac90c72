#pragma once

#include "search/NameIndex.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class TFendrel;

// How opening a collection file for a shared read ended.
enum class TMapOutcome {
    Done,
    OpenFailed, // errno tells why
    NotAFile,
    Locked,     // Fendrel kept writing it for longer than the wait
    ReadFailed, // the lock or the mapping failed; errno tells why
    TooLarge,   // longer than a collection file can be (4 GiB)
};

// A collection file mapped into memory under a shared lock, which it keeps, so that no save of
// Fendrel's changes it meanwhile: a save takes the exclusive lock and renames its new file over
// the path, and the mapped file is never written in place.
class TSharedMapping {
public:
    // Waits up to wait for a save in progress. The file is never created or written.
    [[nodiscard]] static TMapOutcome Open(const std::string& path, std::chrono::milliseconds wait,
                                          std::unique_ptr<TSharedMapping>& mapping);
    ~TSharedMapping();
    TSharedMapping(const TSharedMapping&) = delete;
    TSharedMapping& operator=(const TSharedMapping&) = delete;

    [[nodiscard]] std::string_view Text() const { return {Data_, Size_}; }
    [[nodiscard]] const TCollectionIdentity& Identity() const { return Identity_; }

private:
    TSharedMapping() = default;
    int Fd_ = -1;
    const char* Data_ = nullptr;
    size_t Size_ = 0;
    TCollectionIdentity Identity_;
};

// The collection file at path as stat tells it now, in the terms of TSharedMapping::Identity;
// nothing when it cannot be told (the file is gone).
[[nodiscard]] std::optional<TCollectionIdentity> CollectionIdentityAt(const std::string& path);

// Why a collection file could not be opened for a shared read, for a terminal: UTF-8, with the
// system's words for error (errno after Open).
[[nodiscard]] std::string MapFailureText(TMapOutcome outcome, int error);

// The collection's path made absolute (not resolving links), as the index is named after it.
[[nodiscard]] std::string AbsoluteCollectionPath(const std::string& path);

// Where the index of the collection at absolutePath lives: a file in $XDG_CACHE_HOME/fendrel
// (~/.cache/fendrel without it) named after the path; nothing when no cache folder is known.
[[nodiscard]] std::optional<std::string> NameIndexFileOf(std::string_view absolutePath);

// An index file mapped into memory, with the index over it.
class TStoredNameIndex {
public:
    // The index of the collection, when one was made from the collection file as it is now and
    // is whole; nothing otherwise.
    [[nodiscard]] static std::unique_ptr<TStoredNameIndex> Open(std::string_view absolutePath,
                                                                const TSharedMapping& collection);
    ~TStoredNameIndex();
    TStoredNameIndex(const TStoredNameIndex&) = delete;
    TStoredNameIndex& operator=(const TStoredNameIndex&) = delete;

    [[nodiscard]] const TNameIndex& Index() const { return *Index_; }

private:
    TStoredNameIndex() = default;
    const char* Data_ = nullptr;
    size_t Size_ = 0;
    std::unique_ptr<TNameIndex> Index_;
};

// Makes the index of the collection loaded from text and writes it in place of the one before,
// through a temporary file renamed over it, under a lock that one writer at a time holds. Skips
// the work when another process is writing it just then, or a fitting index is there already.
// True when a fitting index is there afterwards. The collection is freed as soon as the index
// needs it no more, while the file is written, which then takes the collection's memory instead
// of fresh memory (which costs more on some machines).
bool StoreNameIndex(std::string_view absolutePath, std::string_view text,
                    const TCollectionIdentity& identity, std::unique_ptr<TFendrel> collection);

// Reads the collection file at path and writes its index again, when it has one, on a thread of
// its own at low priority, so that the caller goes on at once. A request made while one runs is
// taken up when it ends. Failures are silent: the index is only a shortcut, and fendrel-find
// makes it itself.
void RefreshNameIndexLater(const std::string& path);
