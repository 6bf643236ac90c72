#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// The first bytes of every collection file.
inline constexpr std::string_view kCollectionFileHeader = ";Fendrel File v1 begin";

// How a whole-file read or write of a collection file ended.
enum class TFileOutcome {
    Done,
    // Missing folder, no access, not a plain file, or locked by another Fendrel or fendrel-find
    // for longer than the lock wait.
    OpenFailed,
    ReadFailed,  // the read failed or delivered fewer bytes than the file holds
    WriteFailed, // the new text could not be stored completely; the file keeps its former content
    // The file holds something that must not be replaced: Merge refused its content, or a
    // symbolic link leads to a file that is not a collection file. The file is left as it is.
    NotACollection,
};

// A file as the store last read or wrote it. Another program's save shows as another inode
// (a rename) or another size or modification time (a write in place).
struct TFileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    int64_t ModifiedNs = 0; // nanoseconds since 1970
    friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

// Takes the next block of a content that is written as it is made; false when it could not be
// stored.
using TBlockSink = std::function<bool(std::string_view block)>;

// A replacement of the whole file. Everything it asks for happens under the one lock of the
// write, so no other Fendrel can save between the comparison and the write.
struct TReplaceRequest {
    std::string_view Text; // the new content, when the file is as Expected
    // The file as this program last read or wrote it; none: replace whatever the file holds.
    std::optional<TFileIdentity> Expected;
    // Called when the file is no longer as Expected, with its present content: returns the text
    // to write instead, or nothing to leave the file alone (then the outcome is NotACollection).
    // Without it, Text is written all the same. A file that has vanished or become empty
    // since is not merged: Text is written anew.
    std::function<std::optional<std::string>(std::string_view current)> Merge;
    // Before the file that was Expected is replaced, keep its bytes beside it, as NAME.damaged
    // (or NAME.damaged-2, -3, ... when taken). The save fails when the copy cannot be made.
    bool KeepOriginal = false;
    // When set, makes the new content in place of Text, handing it to the sink block by block;
    // returns false when the sink refused a block. It is called at most once, only when Text
    // would be written. Whatever it throws is passed on, and the file is left as it was.
    std::function<bool(const TBlockSink& sink)> Produce = nullptr;
    // When set, runs on the calling thread once the whole new content is written, while another
    // thread waits for the disc to hold it; the outcome is not known yet, so what it does must be
    // right whether the save then succeeds or fails. Not called when nothing was written, nor by
    // every store. Whatever it throws is passed on, and the file is left as it was.
    std::function<void()> WhileSyncing = nullptr;
};

struct TReplaceResult {
    TFileOutcome Outcome = TFileOutcome::OpenFailed;
    TFileIdentity Identity; // the file as written, when Done
    bool Merged = false;    // what was written is what Merge returned
    std::string KeptCopy;   // the path of the copy KeepOriginal made, if one was made
};

// The collection file, read and written whole. While it writes, the store holds an exclusive
// lock on the file, and while it reads a shared one, so that no reader (another Fendrel,
// fendrel-find) sees a write half done and two writers never interleave; a lock held by someone
// else is waited for a short while before the call fails. The lock is released before the call
// returns, whatever happened.
class ICollectionFileStore {
public:
    virtual ~ICollectionFileStore() = default;
    // Opens path, creating an empty file when it is missing and never truncating one, and reads
    // all of it into text. text and identity are changed only when the outcome is Done.
    [[nodiscard]] virtual TFileOutcome ReadWhole(const std::string& path, std::string& text,
                                                 TFileIdentity& identity) = 0;
    // Opens and reads path as ReadWhole does, and hands all of its content to read, which runs
    // while the file is still locked; the text lives only for that call, so a large file is never
    // copied. read is not called when the outcome is not Done; what it throws is passed on.
    using TTextReader = std::function<void(std::string_view text)>;
    [[nodiscard]] virtual TFileOutcome ReadInPlace(const std::string& path, const TTextReader& read,
                                                   TFileIdentity& identity)
    {
        std::string text;
        const TFileOutcome outcome = ReadWhole(path, text, identity);
        if (outcome == TFileOutcome::Done)
            read(text);
        return outcome;
    }
    // Replaces the content of path as the request says. A failure leaves the file as it was.
    [[nodiscard]] virtual TReplaceResult Replace(const std::string& path,
                                                 const TReplaceRequest& request) = 0;
    // Removes the temporary files that saves of path left behind when they were killed midway:
    // those older than this process that no save holds any longer, and only what is provably
    // such a file: its name, its owner and its content (nothing, or the start of a collection
    // file) all say so.
    virtual void RemoveStaleTemporaries(const std::string& path) = 0;

    [[nodiscard]] TFileOutcome ReadWhole(const std::string& path, std::string& text)
    {
        TFileIdentity identity;
        return ReadWhole(path, text, identity);
    }
    // Replaces the content of path with text, whatever it holds.
    [[nodiscard]] TFileOutcome ReplaceWhole(const std::string& path, std::string_view text)
    {
        return Replace(path, TReplaceRequest{text, std::nullopt, nullptr, false}).Outcome;
    }
};

// How long a read or write of the collection file waits for the lock that another Fendrel or
// fendrel-find holds, as fendrel-find waits for a save.
inline constexpr std::chrono::milliseconds kCollectionLockWait{3000};

// The store on a POSIX file system. Locks are flock(2) locks, waited for up to the lock wait.
// Making a store makes the process ignore SIGXFSZ (unless it handles the signal), so that a
// write past the file size limit fails instead of ending the program. A write
// goes to a temporary file in the same folder, which is flushed to the disk and then renamed
// over the collection file with the old file's permissions, so the file is always either the old
// text or the new one, never a part of it. When the folder refuses new files but the file
// itself may be written, the text is written into the file in place instead, once the disc has
// room for all of it. A produced text goes into the temporary file block by block as it is made;
// for a write in place it is made whole first.
class TPosixCollectionFileStore : public ICollectionFileStore {
public:
    explicit TPosixCollectionFileStore(std::chrono::milliseconds lockWait = kCollectionLockWait);
    void SetLockWait(std::chrono::milliseconds lockWait) { LockWait_ = lockWait; }

    using ICollectionFileStore::ReadWhole;
    [[nodiscard]] TFileOutcome ReadWhole(const std::string& path, std::string& text,
                                         TFileIdentity& identity) override;
    // Maps the file instead of reading it: its pages come from the page cache without a copy
    // and without fresh memory, where a read of hundreds of megabytes pays for both. Falls back to
    // ReadWhole where the file cannot be mapped.
    [[nodiscard]] TFileOutcome ReadInPlace(const std::string& path, const TTextReader& read,
                                           TFileIdentity& identity) override;
    [[nodiscard]] TReplaceResult Replace(const std::string& path,
                                         const TReplaceRequest& request) override;
    void RemoveStaleTemporaries(const std::string& path) override;

protected:
    // One read(2) or write(2); tests override them to make a disc fail or fill up.
    [[nodiscard]] virtual ssize_t ReadSome(int fd, char* buffer, size_t size);
    [[nodiscard]] virtual ssize_t WriteSome(int fd, const char* data, size_t size);
    // Makes sure the file can hold size bytes before it is written in place. False (with errno)
    // when the disc has no room; true where the file system cannot tell.
    [[nodiscard]] virtual bool Reserve(int fd, size_t size);
    // fsync(2): true when the disc holds everything written to the file.
    [[nodiscard]] virtual bool Flush(int fd);

private:
    // When a lock wait that starts now ends.
    [[nodiscard]] std::chrono::steady_clock::time_point Deadline() const;
    // Reads size bytes from the start of the file.
    [[nodiscard]] bool ReadFromStart(int fd, size_t size, std::string& text);
    [[nodiscard]] bool WriteAll(int fd, std::string_view text);
    // Writes what produce makes into the file from its start; false when it could not.
    [[nodiscard]] bool WriteProduced(int fd, const std::function<bool(const TBlockSink&)>& produce);
    // Flushes the file, running meanwhile (when set) on this thread while the flush waits on
    // another; true when the flush succeeded.
    [[nodiscard]] bool FlushWhile(int fd, const std::function<void()>& meanwhile);
    // Copies the size bytes of the file beside target as target.damaged, -2, ...; copy receives
    // the copy's path.
    [[nodiscard]] bool KeepCopy(int fd, size_t size, mode_t mode, const std::string& target,
                                std::string& copy);
    [[nodiscard]] TFileOutcome WriteInPlace(int fd, std::string_view text, TFileIdentity& identity);

    std::chrono::milliseconds LockWait_;
};
