#pragma once

#include "mounttool/ContentSource.h"
#include "mounttool/MountTree.h"

#include <memory>
#include <mutex>
#include <string>

struct fuse_session;

// The mounted tree served to the kernel through FUSE, read-only, to the mounting user alone.
// Requests are answered on several threads, each from the tree as it is when the request comes;
// a file opened keeps reading its medium whatever is read again meanwhile. Folders are listed
// without being opened: the kernel then asks for a listing alone.
class TFuseMount {
public:
    struct TOptions {
        bool NoContent = false; // every open of a file fails with ENOMEDIUM
    };
    TFuseMount(std::shared_ptr<const TMountTree> tree, TContentSource& content, TOptions options);
    ~TFuseMount();
    TFuseMount(const TFuseMount&) = delete;
    TFuseMount& operator=(const TFuseMount&) = delete;

    // Mounts the tree at folder; false when it could not (libfuse has said why on standard
    // error). Ctrl+C, SIGTERM and SIGHUP unmount it from then on.
    [[nodiscard]] bool Mount(const std::string& folder);
    // Answers requests until the folder is unmounted or a signal asks to; 0 when it ended so.
    [[nodiscard]] int Serve();

    [[nodiscard]] std::shared_ptr<const TMountTree> Tree() const;
    // Shows tree from now on, where the collection at that place was read again, and has the
    // kernel forget what it keeps of that collection's entries. Called from another thread.
    void Replace(std::shared_ptr<const TMountTree> tree, size_t collection);

    // The callbacks of the kernel's requests, reached from the table of operations.
    struct TOperations;

private:
    std::shared_ptr<const TMountTree> Tree_;
    mutable std::mutex TreeMutex_;
    TContentSource& Content_;
    TOptions Options_;
    fuse_session* Session_ = nullptr;
    bool Mounted_ = false;
    bool SignalsSet_ = false;
    bool FoldersUnopened_ = false; // the kernel lists folders without opening them
    uint32_t Uid_;
    uint32_t Gid_;
};
