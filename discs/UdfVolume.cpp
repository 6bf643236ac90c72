#include "discs/UdfVolume.h"

#include "discs/UdfDisc.h"

#include <string_view>
#include <unordered_set>

namespace {

// A directory this large holds far more entries than any disc has; one claiming more is damaged.
constexpr uint64_t kLargestDirectory = 64u << 20;

class TUdfVolume;

// One folder's identifiers, read whole when the folder is opened.
class TUdfListing final : public IFolderListing {
public:
    TUdfListing(TUdfVolume& volume, std::vector<uint8_t> bytes);
    ~TUdfListing() override;
    TUdfListing(const TUdfListing&) = delete;
    TUdfListing& operator=(const TUdfListing&) = delete;
    bool Next(TFindData& entry) override;
    // The entry of the folder rawName when it is the one this listing gave last.
    [[nodiscard]] std::optional<TUdfAddress> LastFolder(const std::string& rawName) const
    {
        if (!LastFolder_ || rawName != LastFolderName_)
            return std::nullopt;
        return LastFolder_;
    }

private:
    TUdfVolume& Volume_;
    std::vector<uint8_t> Bytes_;
    TUdfIdentifierCursor Cursor_;
    std::optional<TUdfAddress> LastFolder_;
    std::string LastFolderName_;
};

class TUdfVolume final : public IVolume {
public:
    explicit TUdfVolume(std::unique_ptr<TUdfDisc> disc)
        : Disc_(std::move(disc))
    {
    }

    [[nodiscard]] std::string Label() const override { return NameFromDisc(Disc_->Label()); }
    [[nodiscard]] TVolumeFacts Facts() const override
    {
        TVolumeFacts facts;
        facts.Identity = Disc_->Identity();
        facts.Identity.Label = Disc_->Label();
        facts.Capacity = Disc_->Size();
        return facts;
    }

    // A folder opened by its path starts a walk: it is looked for from the root. Within one walk
    // each directory is listed once, so that a damaged disc whose folders lead back to their
    // ancestors is walked to an end.
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override
    {
        Walked_.clear();
        const std::optional<TUdfAddress> found = Find(path);
        return found ? Open(*found) : nullptr;
    }
    // A subfolder just listed is opened from its identifier, whatever its depth.
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenSubfolder(IFolderListing& listing,
                                                                const std::string& rawName,
                                                                const std::string& path) override
    {
        const auto* own = dynamic_cast<const TUdfListing*>(&listing);
        const std::optional<TUdfAddress> entry = own ? own->LastFolder(rawName) : std::nullopt;
        return entry ? Open(*entry) : OpenFolder(path);
    }

    // The bytes of the directories whose listings are open: the folders from the root down to the
    // one being walked. Together they never exceed the image's size, however a damaged disc
    // nests its directories into one another.
    void Hold(uint64_t bytes) { Held_ += bytes; }
    void Release(uint64_t bytes) { Held_ -= bytes; }

    [[nodiscard]] TUdfDisc& Disc() { return *Disc_; }

    // A file is found again from where its entry lies; never 0, which finds it by its path.
    [[nodiscard]] static uint64_t WhereOf(TUdfAddress entry)
    {
        const uint64_t partition = entry.Partition + 1u;
        return partition << 32 | entry.Block;
    }
    [[nodiscard]] std::unique_ptr<IFileContent> OpenFile(const std::string& path,
                                                         uint64_t where) override
    {
        if (where != 0)
            return Disc_->OpenFile(
                {static_cast<uint32_t>(where), static_cast<uint16_t>((where >> 32) - 1)});
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            return nullptr;
        const std::optional<TUdfAddress> folder = Find(path.substr(0, slash + 1));
        const std::optional<std::vector<uint8_t>> bytes =
            folder ? Disc_->ReadDirectory(*folder, Room()) : std::nullopt;
        if (!bytes)
            return nullptr;
        TUdfIdentifierCursor cursor(*bytes);
        while (const std::optional<TUdfIdentifier> identifier = cursor.Next())
            if (IsUdfListed(*identifier) && !IsUdfFolder(*identifier) &&
                UdfRawName(*identifier) == std::string_view(path).substr(slash + 1))
                return Disc_->OpenFile(identifier->Entry);
        return nullptr;
    }

private:
    [[nodiscard]] std::unique_ptr<IFolderListing> Open(TUdfAddress entry)
    {
        const std::optional<uint64_t> block = Disc_->ImageBlock(entry);
        if (!block || !Walked_.insert(*block).second)
            return nullptr;
        std::optional<std::vector<uint8_t>> bytes = Disc_->ReadDirectory(entry, Room());
        if (!bytes)
            return nullptr;
        return std::make_unique<TUdfListing>(*this, std::move(*bytes));
    }

    [[nodiscard]] uint64_t Room() const
    {
        return std::min(kLargestDirectory, Disc_->Size() - Held_);
    }

    // The folder at path, found from the root one name at a time.
    std::optional<TUdfAddress> Find(const std::string& path)
    {
        if (path.empty() || path.front() != '/')
            return std::nullopt;
        TUdfAddress folder = Disc_->Root();
        for (size_t at = 1; at < path.size();) {
            const size_t slash = path.find('/', at);
            if (slash == std::string::npos)
                return std::nullopt;
            const std::string_view name(path.data() + at, slash - at);
            const std::optional<std::vector<uint8_t>> bytes = Disc_->ReadDirectory(folder, Room());
            if (!bytes)
                return std::nullopt;
            TUdfIdentifierCursor cursor(*bytes);
            std::optional<TUdfIdentifier> identifier;
            while ((identifier = cursor.Next()) &&
                   !(IsUdfListed(*identifier) && IsUdfFolder(*identifier) &&
                     UdfRawName(*identifier) == name)) {
            }
            if (!identifier)
                return std::nullopt;
            folder = identifier->Entry;
            at = slash + 1;
        }
        return folder;
    }

    std::unique_ptr<TUdfDisc> Disc_;
    std::unordered_set<uint64_t> Walked_;
    uint64_t Held_ = 0;
};

TUdfListing::TUdfListing(TUdfVolume& volume, std::vector<uint8_t> bytes)
    : Volume_(volume)
    , Bytes_(std::move(bytes))
    , Cursor_(Bytes_)
{
    Volume_.Hold(Bytes_.size());
}

TUdfListing::~TUdfListing()
{
    Volume_.Release(Bytes_.size());
}

bool TUdfListing::Next(TFindData& entry)
{
    while (const std::optional<TUdfIdentifier> identifier = Cursor_.Next()) {
        if (!IsUdfListed(*identifier))
            continue;
        std::string name = UdfRawName(*identifier);
        if (name.empty())
            continue;
        entry.IsFolder = IsUdfFolder(*identifier);
        // An entry that cannot be read keeps its name; its time and size are then unknown.
        const std::optional<TUdfEntry> file = Volume_.Disc().ReadEntry(identifier->Entry, false);
        entry.LastWriteTime = file ? file->Time : 0;
        entry.Size = file && !entry.IsFolder ? file->Size : 0;
        entry.Where = entry.IsFolder ? 0 : TUdfVolume::WhereOf(identifier->Entry);
        entry.Name = NameFromDisc(name);
        entry.RawName = std::move(name);
        if (entry.IsFolder) {
            LastFolder_ = identifier->Entry;
            LastFolderName_ = entry.RawName;
        }
        return true;
    }
    return false;
}

} // namespace

std::unique_ptr<IVolume> OpenUdfVolume(const std::string& path)
{
    std::unique_ptr<TUdfDisc> disc = TUdfDisc::Open(path);
    if (!disc)
        return nullptr;
    return std::make_unique<TUdfVolume>(std::move(disc));
}
