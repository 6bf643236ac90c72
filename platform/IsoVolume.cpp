#include "platform/IsoVolume.h"

#include <cdio/cdio.h>
#include <cdio/iso9660.h>
#include <cdio/logging.h>
#include <cdio/memory.h>

#include <cstring>
#include <ctime>

namespace {

void IgnoreLibraryMessage(cdio_log_level_t, const char*) {}

// The library reports a missing disc or a damaged image on stderr; Fendrel shows its own message.
void SilenceLibrary()
{
    static const bool silenced = [] {
        cdio_log_set_handler(IgnoreLibraryMessage);
        return true;
    }();
    (void)silenced;
}

struct TIsoCloser {
    void operator()(iso9660_t* iso) const { iso9660_close(iso); }
};
using TIsoImage = std::unique_ptr<iso9660_t, TIsoCloser>;

struct TListFreer {
    void operator()(CdioList_t* list) const { iso9660_filelist_free(list); }
};
using TFileList = std::unique_ptr<CdioList_t, TListFreer>;

// The library gives the recording time already moved into the reader's time zone.
uint64_t FileTimeOf(const struct tm& recorded)
{
    struct tm broken = recorded;
    const long offset = recorded.tm_gmtoff;
    const time_t local = timegm(&broken);
    return FileTimeFromUnix(static_cast<int64_t>(local) - offset);
}

// "NAME.EXT;1" as "NAME.EXT", and "NAME.;1" as "NAME".
std::string_view WithoutVersion(std::string_view name)
{
    const size_t semicolon = name.rfind(';');
    if (semicolon == std::string_view::npos || semicolon + 1 == name.size())
        return name;
    for (size_t i = semicolon + 1; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9')
            return name;
    name = name.substr(0, semicolon);
    if (!name.empty() && name.back() == '.')
        name.remove_suffix(1);
    return name;
}

bool IsFolder(const iso9660_stat_t& stat)
{
    return stat.type == iso9660_stat_t::_STAT_DIR;
}

std::string DisplayName(const iso9660_stat_t& stat)
{
    std::string_view name = WithoutCutCharacter(stat.filename);
    // Rock Ridge names are the names themselves; Joliet and plain ISO 9660 names carry a version.
    if (stat.rr.b3_rock != yep && !IsFolder(stat))
        name = WithoutVersion(name);
    return NameFromDisc(name);
}

class TIsoListing final : public IFolderListing {
public:
    explicit TIsoListing(TFileList list)
        : List_(std::move(list))
        , At_(_cdio_list_begin(List_.get()))
    {
    }

    bool Next(TFindData& entry) override
    {
        if (!At_)
            return false;
        const auto& stat = *static_cast<const iso9660_stat_t*>(_cdio_list_node_data(At_));
        At_ = _cdio_list_node_next(At_);
        entry.RawName = stat.filename;
        entry.Name =
            (entry.RawName == "." || entry.RawName == "..") ? entry.RawName : DisplayName(stat);
        entry.IsFolder = IsFolder(stat);
        entry.LastWriteTime = FileTimeOf(stat.tm);
        uint64_t size = entry.IsFolder ? 0 : stat.size;
        // A file of 4 GiB or more is recorded in several pieces, each an entry of the same name.
        while (!entry.IsFolder && At_) {
            const auto& piece = *static_cast<const iso9660_stat_t*>(_cdio_list_node_data(At_));
            if (IsFolder(piece) || std::strcmp(piece.filename, stat.filename) != 0)
                break;
            size += piece.size;
            At_ = _cdio_list_node_next(At_);
        }
        entry.SizeLow = static_cast<uint32_t>(size);
        return true;
    }

private:
    TFileList List_;
    CdioListNode_t* At_;
};

class TIsoVolume final : public IVolume {
public:
    explicit TIsoVolume(TIsoImage image)
        : Image_(std::move(image))
    {
    }

    [[nodiscard]] std::string Label() const override
    {
        char* id = nullptr;
        if (!iso9660_ifs_get_volume_id(Image_.get(), &id) || !id)
            return {};
        std::string label = NameFromDisc(WithoutCutCharacter(id));
        cdio_free(id);
        return label;
    }

    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override
    {
        TFileList list(iso9660_ifs_readdir(Image_.get(), path.c_str()));
        if (!list)
            return nullptr;
        return std::make_unique<TIsoListing>(std::move(list));
    }

private:
    TIsoImage Image_;
};

} // namespace

std::string_view WithoutCutCharacter(std::string_view utf8)
{
    size_t lead = utf8.size();
    size_t following = 0;
    while (lead > 0 && following < 3 &&
           (static_cast<unsigned char>(utf8[lead - 1]) & 0xC0) == 0x80) {
        --lead;
        ++following;
    }
    if (lead == 0)
        return utf8;
    const auto first = static_cast<unsigned char>(utf8[lead - 1]);
    const size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
    return following + 1 < length ? utf8.substr(0, lead - 1) : utf8;
}

std::unique_ptr<IVolume> OpenIsoVolume(const std::string& path)
{
    SilenceLibrary();
    TIsoImage image(iso9660_open_ext(path.c_str(), ISO_EXTENSION_ALL));
    if (!image)
        return nullptr;
    return std::make_unique<TIsoVolume>(std::move(image));
}
