#define FUSE_USE_VERSION 312
#include "mounttool/FuseMount.h"

#include "discs/Drives.h"

#include <fuse_lowlevel.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The tree changes only when a collection is read again, and then the kernel is told to forget
// it; until then what it has learned stays true.
constexpr double kKeptSeconds = 3600;
// The largest value of an extended attribute the kernel passes on.
constexpr size_t kLargestAttribute = 65536;

template <typename T> T* Handle(const fuse_file_info* info)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(info->fh));
}

template <typename T> uint64_t HandleOf(T* object)
{
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(object));
}

} // namespace

struct TFuseMount::TOperations {
    static TFuseMount& Mount(fuse_req_t request)
    {
        return *static_cast<TFuseMount*>(fuse_req_userdata(request));
    }

    static struct stat Stat(const TFuseMount& mount, const TMountTree& tree,
                            const TMountEntry& entry)
    {
        const TEntryAttributes attributes = tree.Attributes(entry);
        struct stat status {};
        status.st_ino = attributes.Ino;
        status.st_mode = attributes.Folder ? S_IFDIR | 0555 : S_IFREG | 0444;
        // A folder's count of links is not known without counting its subfolders; 1 tells
        // find and its kin so, as Btrfs does.
        status.st_nlink = 1;
        status.st_uid = mount.Uid_;
        status.st_gid = mount.Gid_;
        status.st_size = static_cast<off_t>(attributes.Size);
        status.st_blksize = 4096;
        status.st_blocks = static_cast<blkcnt_t>((attributes.Size + 511) / 512);
        status.st_mtim.tv_sec = attributes.Seconds;
        status.st_mtim.tv_nsec = attributes.Nanoseconds;
        status.st_atim = status.st_mtim;
        status.st_ctim = status.st_mtim;
        return status;
    }

    static fuse_entry_param EntryParam(const TFuseMount& mount, const TMountTree& tree,
                                       const TMountEntry& entry)
    {
        fuse_entry_param param{};
        param.ino = tree.Ino(entry);
        param.attr = Stat(mount, tree, entry);
        param.attr_timeout = kKeptSeconds;
        param.entry_timeout = kKeptSeconds;
        return param;
    }

    static void Init(void* data, fuse_conn_info* connection)
    {
        // File managers and find stat every entry they list: the attributes go with the names.
        connection->want &= ~FUSE_CAP_READDIRPLUS_AUTO;
        // Folders are not opened: a listing is a request less a folder, and listing every folder
        // is what find and du do.
        static_cast<TFuseMount*>(data)->FoldersUnopened_ =
            (connection->capable & FUSE_CAP_NO_OPENDIR_SUPPORT) != 0;
    }

    // Refused once where the kernel can do without: it then lists folders without opening them.
    static void OpenDir(fuse_req_t request, fuse_ino_t, fuse_file_info* info)
    {
        if (Mount(request).FoldersUnopened_)
            fuse_reply_err(request, ENOSYS);
        else
            fuse_reply_open(request, info);
    }

    static void Lookup(fuse_req_t request, fuse_ino_t parent, const char* name)
    {
        TFuseMount& mount = Mount(request);
        const auto tree = mount.Tree();
        const std::optional<TMountEntry> folder = tree->Find(parent);
        if (!folder) {
            fuse_reply_err(request, ENOENT);
            return;
        }
        if (!tree->IsFolder(*folder)) {
            fuse_reply_err(request, ENOTDIR);
            return;
        }
        const std::optional<TMountEntry> entry = tree->Lookup(*folder, name);
        if (!entry) {
            fuse_reply_err(request, ENOENT);
            return;
        }
        const fuse_entry_param param = EntryParam(mount, *tree, *entry);
        fuse_reply_entry(request, &param);
    }

    static void GetAttr(fuse_req_t request, fuse_ino_t ino, fuse_file_info*)
    {
        TFuseMount& mount = Mount(request);
        const auto tree = mount.Tree();
        const std::optional<TMountEntry> entry = tree->Find(ino);
        if (!entry) {
            fuse_reply_err(request, ENOENT);
            return;
        }
        const struct stat status = Stat(mount, *tree, *entry);
        fuse_reply_attr(request, &status, kKeptSeconds);
    }

    // Fills a reply of at most size bytes with the folder's entries from offset on: "." and ".."
    // at 0 and 1, the folder's entry i at i + 2.
    static void List(fuse_req_t request, fuse_ino_t ino, size_t size, off_t offset, bool plus)
    {
        const TFuseMount& mount = Mount(request);
        const auto held = mount.Tree();
        const TMountTree& tree = *held;
        const std::optional<TMountEntry> found = tree.Find(ino);
        if (!found || !tree.IsFolder(*found)) {
            fuse_reply_err(request, found ? ENOTDIR : ENOENT);
            return;
        }
        const TMountEntry& folder = *found;
        std::vector<char> buffer(size);
        size_t used = 0;
        const size_t count = tree.Count(folder);
        for (size_t at = static_cast<size_t>(std::max<off_t>(offset, 0)); at < count + 2; ++at) {
            const bool dot = at < 2;
            const TMountEntry entry =
                dot ? (at == 0 ? folder : tree.Parent(folder)) : tree.EntryAt(folder, at - 2);
            const std::string name = dot ? std::string(at == 0 ? "." : "..") : tree.NameOf(entry);
            const off_t next = static_cast<off_t>(at + 1);
            size_t added = 0;
            if (plus) {
                fuse_entry_param param = EntryParam(mount, tree, entry);
                if (dot) // the kernel takes no lookup of these
                    param.ino = 0;
                added = fuse_add_direntry_plus(request, buffer.data() + used, size - used,
                                               name.c_str(), &param, next);
            } else {
                struct stat status {};
                status.st_ino = tree.Ino(entry);
                status.st_mode = tree.IsFolder(entry) ? S_IFDIR : S_IFREG;
                added = fuse_add_direntry(request, buffer.data() + used, size - used, name.c_str(),
                                          &status, next);
            }
            if (added > size - used)
                break;
            used += added;
        }
        fuse_reply_buf(request, buffer.data(), used);
    }

    static void ReadDir(fuse_req_t request, fuse_ino_t ino, size_t size, off_t offset,
                        fuse_file_info*)
    {
        List(request, ino, size, offset, false);
    }

    static void ReadDirPlus(fuse_req_t request, fuse_ino_t ino, size_t size, off_t offset,
                            fuse_file_info*)
    {
        List(request, ino, size, offset, true);
    }

    static void Open(fuse_req_t request, fuse_ino_t ino, fuse_file_info* info)
    {
        TFuseMount& mount = Mount(request);
        if ((info->flags & O_ACCMODE) != O_RDONLY) {
            fuse_reply_err(request, EROFS);
            return;
        }
        const auto tree = mount.Tree();
        const std::optional<TMountEntry> entry = tree->Find(ino);
        if (!entry) {
            fuse_reply_err(request, ENOENT);
            return;
        }
        if (tree->IsFolder(*entry)) {
            fuse_reply_err(request, EISDIR);
            return;
        }
        if (mount.Options_.NoContent) {
            fuse_reply_err(request, ENOMEDIUM);
            return;
        }
        const TFileOnDisc file = FileOnDisc(
            tree->Collections()[static_cast<size_t>(entry->Collection)].View->Collection(),
            entry->Id);
        int error = 0;
        std::unique_ptr<TOpenContent> content = mount.Content_.Open(file, error);
        if (!content) {
            fuse_reply_err(request, error);
            return;
        }
        info->fh = HandleOf(content.get());
        if (fuse_reply_open(request, info) == 0)
            (void)content.release(); // the release of the file frees it
    }

    static void Read(fuse_req_t request, fuse_ino_t, size_t size, off_t offset,
                     fuse_file_info* info)
    {
        const TOpenContent& open = *Handle<TOpenContent>(info);
        std::vector<uint8_t> buffer(size);
        const std::optional<size_t> read =
            open.Read(static_cast<uint64_t>(std::max<off_t>(offset, 0)), buffer);
        if (!read) {
            fuse_reply_err(request, EIO);
            return;
        }
        fuse_reply_buf(request, reinterpret_cast<const char*>(buffer.data()), *read);
    }

    static void Release(fuse_req_t request, fuse_ino_t, fuse_file_info* info)
    {
        delete Handle<TOpenContent>(info);
        fuse_reply_err(request, 0);
    }

    static void StatFs(fuse_req_t request, fuse_ino_t)
    {
        const auto tree = Mount(request).Tree();
        struct statvfs status {};
        status.f_bsize = 4096;
        status.f_frsize = 4096;
        status.f_blocks = (tree->Bytes() + 4095) / 4096;
        status.f_files = tree->Entries();
        status.f_namemax = kLongestMountName;
        fuse_reply_statfs(request, &status);
    }

    static void GetXattr(fuse_req_t request, fuse_ino_t ino, const char* name, size_t size)
    {
        const auto tree = Mount(request).Tree();
        const std::optional<TMountEntry> entry = tree->Find(ino);
        if (!entry) {
            fuse_reply_err(request, ENOENT);
            return;
        }
        const std::optional<std::string> value = tree->Attribute(*entry, name);
        if (!value)
            fuse_reply_err(request, ENODATA);
        else if (value->size() > kLargestAttribute)
            fuse_reply_err(request, E2BIG);
        else if (size == 0)
            fuse_reply_xattr(request, value->size());
        else if (size < value->size())
            fuse_reply_err(request, ERANGE);
        else
            fuse_reply_buf(request, value->data(), value->size());
    }

    static void ListXattr(fuse_req_t request, fuse_ino_t ino, size_t size)
    {
        const auto tree = Mount(request).Tree();
        const std::optional<TMountEntry> entry = tree->Find(ino);
        if (!entry) {
            fuse_reply_err(request, ENOENT);
            return;
        }
        std::string names;
        for (const std::string& name : tree->AttributeNames(*entry)) {
            names += name;
            names += '\0';
        }
        if (size == 0)
            fuse_reply_xattr(request, names.size());
        else if (size < names.size())
            fuse_reply_err(request, ERANGE);
        else
            fuse_reply_buf(request, names.data(), names.size());
    }

    static fuse_lowlevel_ops Table()
    {
        fuse_lowlevel_ops operations{};
        operations.init = Init;
        operations.lookup = Lookup;
        operations.getattr = GetAttr;
        operations.opendir = OpenDir;
        operations.readdir = ReadDir;
        operations.readdirplus = ReadDirPlus;
        operations.open = Open;
        operations.read = Read;
        operations.release = Release;
        operations.statfs = StatFs;
        operations.getxattr = GetXattr;
        operations.listxattr = ListXattr;
        return operations;
    }
};

TFuseMount::TFuseMount(std::shared_ptr<const TMountTree> tree, TContentSource& content,
                       TOptions options)
    : Tree_(std::move(tree))
    , Content_(content)
    , Options_(options)
    , Uid_(::getuid())
    , Gid_(::getgid())
{
}

TFuseMount::~TFuseMount()
{
    if (!Session_)
        return;
    if (SignalsSet_)
        fuse_remove_signal_handlers(Session_);
    if (Mounted_)
        fuse_session_unmount(Session_);
    fuse_session_destroy(Session_);
}

bool TFuseMount::Mount(const std::string& folder)
{
    // Read-only, seen by the mounting user alone (no allow_other), with the kernel checking the
    // modes the entries show.
    std::string program = "fendrel-mount";
    std::string option = "-o";
    std::string options = "ro,default_permissions,fsname=fendrel,subtype=fendrel";
    char* arguments[] = {program.data(), option.data(), options.data(), nullptr};
    fuse_args args = FUSE_ARGS_INIT(3, arguments);
    static const fuse_lowlevel_ops operations = TOperations::Table();
    Session_ = fuse_session_new(&args, &operations, sizeof operations, this);
    fuse_opt_free_args(&args);
    if (!Session_)
        return false;
    if (fuse_set_signal_handlers(Session_) != 0)
        return false;
    SignalsSet_ = true;
    if (fuse_session_mount(Session_, folder.c_str()) != 0)
        return false;
    Mounted_ = true;
    // Nothing may look into the folder before Serve answers: the mount's device is read from
    // the kernel's table of mounts instead.
    char real[PATH_MAX];
    if (::realpath(folder.c_str(), real)) {
        if (const std::optional<dev_t> device = MountedDeviceAt(real, ReadMountInfo()))
            Content_.SetOwnDevice(*device);
    }
    return true;
}

int TFuseMount::Serve()
{
    fuse_loop_config* config = fuse_loop_cfg_create();
    const int result = fuse_session_loop_mt(Session_, config);
    fuse_loop_cfg_destroy(config);
    return result;
}

std::shared_ptr<const TMountTree> TFuseMount::Tree() const
{
    const std::lock_guard lock(TreeMutex_);
    return Tree_;
}

void TFuseMount::Replace(std::shared_ptr<const TMountTree> tree, size_t collection)
{
    std::shared_ptr<const TMountTree> old;
    {
        const std::lock_guard lock(TreeMutex_);
        old = std::exchange(Tree_, std::move(tree));
    }
    if (!Session_ || !Mounted_)
        return;
    // The kernel forgets the collection's discs, and with them every entry below them, which it
    // then asks for again; and it forgets the listings it keeps of the collection's folders, which
    // a shell or a file manager standing in one of them would list again.
    const uint64_t folder = old->ViewRoot(collection);
    const TMountEntry discs{static_cast<int>(collection), 0};
    for (size_t i = 0; i < old->Count(discs); ++i) {
        const std::string name = old->NameOf(old->EntryAt(discs, i));
        (void)fuse_lowlevel_notify_inval_entry(Session_, folder, name.c_str(), name.size());
    }
    const TCollectionView& view = *old->Collections()[collection].View;
    for (uint32_t id = 1; id <= view.Collection().LastId; ++id) {
        if (view.IsFolder(id) && view.InoOf(id) != 0)
            (void)fuse_lowlevel_notify_inval_inode(Session_, view.InoOf(id), 0, 0);
    }
    (void)fuse_lowlevel_notify_inval_inode(Session_, folder, 0, 0);
    if (folder != kMountRootIno)
        (void)fuse_lowlevel_notify_inval_inode(Session_, kMountRootIno, 0, 0);
}
