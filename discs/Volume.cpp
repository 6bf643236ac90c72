#include "discs/Volume.h"

#include "platform/AnsiText.h"

#include <limits>
#include <utility>

namespace {

// The collection file drops the blanks that begin a name; an escaped one stays.
std::string KeptWhole(std::string name)
{
    EscapeControlBytes(name);
    if (!name.empty() && name[0] == ' ') {
        std::string escaped;
        AppendEscape(escaped, U' ');
        name.replace(0, 1, escaped);
    }
    const std::string_view kept = FirstCharacters(name, kLongestName);
    if (kept.size() < name.size())
        name.resize(kept.size());
    return name;
}

// Sets value from known when value is not known.
template <typename T> void Fill(T& value, const T& known)
{
    if (value == T{})
        value = known;
}

// Passes everything to the volume it holds, adding where it was read from to its facts.
class TSourcedVolume final : public IVolume {
public:
    TSourcedVolume(std::unique_ptr<IVolume> volume, TSourceKind kind, std::string path,
                   TVolumeFacts known)
        : Volume_(std::move(volume))
        , Kind_(kind)
        , Path_(std::move(path))
        , Known_(std::move(known))
    {
    }
    [[nodiscard]] std::string Label() const override { return Volume_->Label(); }
    [[nodiscard]] TVolumeFacts Facts() const override
    {
        TVolumeFacts facts = Volume_->Facts();
        Fill(facts.Source.DriveName, Known_.Source.DriveName);
        Fill(facts.Source.ImageSize, Known_.Source.ImageSize);
        Fill(facts.Source.ImageTime, Known_.Source.ImageTime);
        Fill(facts.Source.MountPoint, Known_.Source.MountPoint);
        Fill(facts.Source.FsType, Known_.Source.FsType);
        TMediumIdentity& identity = facts.Identity;
        Fill(identity.Label, Known_.Identity.Label);
        Fill(identity.FileSystem, Known_.Identity.FileSystem);
        Fill(identity.VolumeSetId, Known_.Identity.VolumeSetId);
        Fill(identity.LogicalVolumeId, Known_.Identity.LogicalVolumeId);
        Fill(identity.CreationTime, Known_.Identity.CreationTime);
        Fill(identity.VolumeBlocks, Known_.Identity.VolumeBlocks);
        Fill(identity.Uuid, Known_.Identity.Uuid);
        Fill(facts.Capacity, Known_.Capacity);
        Fill(facts.FreeSpace, Known_.FreeSpace);
        facts.Source.Kind = Kind_;
        facts.Source.Path = Path_;
        return facts;
    }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenFolder(const std::string& path) override
    {
        return Volume_->OpenFolder(path);
    }
    [[nodiscard]] std::unique_ptr<IFolderListing> OpenSubfolder(IFolderListing& listing,
                                                                const std::string& rawName,
                                                                const std::string& path) override
    {
        return Volume_->OpenSubfolder(listing, rawName, path);
    }
    [[nodiscard]] std::unique_ptr<IFileContent> OpenFile(const std::string& path,
                                                         uint64_t where) override
    {
        return Volume_->OpenFile(path, where);
    }

private:
    std::unique_ptr<IVolume> Volume_; // owned
    TSourceKind Kind_;
    std::string Path_;
    TVolumeFacts Known_;
};

} // namespace

std::unique_ptr<IVolume> WithSource(std::unique_ptr<IVolume> volume, TSourceKind kind,
                                    std::string path, TVolumeFacts known)
{
    if (!volume)
        return nullptr;
    return std::make_unique<TSourcedVolume>(std::move(volume), kind, std::move(path),
                                            std::move(known));
}

std::string NameFromDisc(std::string_view utf8)
{
    return KeptWhole(Utf8ToAnsi(utf8));
}

std::string NameFromEightBitDisc(std::string_view bytes)
{
    if (IsValidUtf8(bytes))
        return NameFromDisc(bytes);
    std::string name;
    name.reserve(bytes.size());
    for (const char c : bytes) {
        // 0x98 is no character of the code page: kept as the byte it is.
        if (c == kEscapeByte)
            AppendEscape(name, kRawByteEscapes + static_cast<unsigned char>(c));
        else
            name += c;
    }
    return KeptWhole(std::move(name));
}

uint64_t FileTimeFromUnix(int64_t seconds, int64_t nanoseconds)
{
    constexpr int64_t secondsFrom1601To1970 = 11644473600;
    constexpr int64_t ticksPerSecond = 10000000;
    // Kept within the signed range, which is all a FILETIME may hold.
    constexpr int64_t largest = std::numeric_limits<int64_t>::max();
    if (seconds < -secondsFrom1601To1970)
        return 0;
    if (seconds > largest / ticksPerSecond - secondsFrom1601To1970 - 1)
        return static_cast<uint64_t>(largest);
    const int64_t ticks = (seconds + secondsFrom1601To1970) * ticksPerSecond + nanoseconds / 100;
    return ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
}

int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day)
{
    year += (month - 1 >= 0 ? (month - 1) : (month - 12)) / 12;
    month = ((month - 1) % 12 + 12) % 12 + 1;
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}
