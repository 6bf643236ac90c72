#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

// How a whole-file read or write of a collection file ended.
enum class TFileOutcome {
    Done,
    OpenFailed,  // missing folder, no access, not a plain file, or in use by another Fendrel
    ReadFailed,  // the read failed or delivered fewer bytes than the file holds
    WriteFailed, // the new text could not be stored completely; the file keeps its former content
};

// The collection file, read and written whole. While it reads or writes, the store holds an
// exclusive lock on the file, so that two Fendrels working on one file refuse each other
// instead of interleaving; the lock is released before the call returns, whatever happened.
class ICollectionFileStore {
public:
    virtual ~ICollectionFileStore() = default;
    // Opens path, creating an empty file when it is missing and never truncating one, and reads
    // all of it into text. text is changed only when the outcome is Done.
    [[nodiscard]] virtual TFileOutcome ReadWhole(const std::string& path, std::string& text) = 0;
    // Replaces the content of path with text. A failure leaves the former file as it was.
    [[nodiscard]] virtual TFileOutcome ReplaceWhole(const std::string& path,
                                                    std::string_view text) = 0;
};

// The store on a POSIX file system. Locks are flock(2) locks, taken without waiting. A write
// goes to a temporary file in the same folder, which is flushed to the disk and then renamed
// over the collection file with the old file's permissions, so the file is always either the old
// text or the new one, never a part of it.
class TPosixCollectionFileStore : public ICollectionFileStore {
public:
    [[nodiscard]] TFileOutcome ReadWhole(const std::string& path, std::string& text) override;
    [[nodiscard]] TFileOutcome ReplaceWhole(const std::string& path,
                                            std::string_view text) override;

protected:
    // One read(2) or write(2); tests override them to make a disc fail or fill up.
    [[nodiscard]] virtual ssize_t ReadSome(int fd, char* buffer, size_t size);
    [[nodiscard]] virtual ssize_t WriteSome(int fd, const char* data, size_t size);
};
