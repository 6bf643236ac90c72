#include "discs/UdfRecords.h"

#include "discs/Volume.h"
#include "platform/AnsiText.h"

#include <algorithm>

namespace {

// File characteristics of a file identifier.
constexpr uint8_t kDirectory = 0x02;
constexpr uint8_t kDeleted = 0x04;
constexpr uint8_t kParent = 0x08;
constexpr uint8_t kStream = 0x10;

} // namespace

bool IsUdfTag(TUdfBytes descriptor, uint16_t kind)
{
    if (descriptor.size() < 16 || UdfLe16(descriptor, 0) != kind)
        return false;
    uint8_t sum = 0;
    for (size_t i = 0; i < 16; ++i)
        sum = static_cast<uint8_t>(sum + (i == 4 ? 0 : descriptor[i]));
    return sum == descriptor[4];
}

std::string Utf8FromCs0(TUdfBytes characters)
{
    std::string out;
    if (characters.empty())
        return out;
    const uint8_t compression = characters[0];
    characters = characters.subspan(1);
    out.reserve(characters.size());
    // 254 and 255 are the forms 8 and 16 take in the names of deleted files.
    if (compression != 16 && compression != 255) {
        for (const uint8_t c : characters)
            AppendUtf8(out, c);
        return out;
    }
    return Utf8FromUtf16BigEndian(characters);
}

std::string Utf8FromDstring(TUdfBytes field)
{
    if (field.empty())
        return {};
    const size_t used = std::min<size_t>(field.back(), field.size() - 1);
    std::string text = Utf8FromCs0(field.first(used));
    text.resize(std::min(text.size(), text.find('\0'))); // some writers count the padding too
    return text;
}

uint64_t FileTimeFromUdf(TUdfBytes timestamp)
{
    const uint16_t typeAndZone = UdfLe16(timestamp, 0);
    int zone = typeAndZone & 0x0FFF;
    if (zone >= 0x0800)
        zone -= 0x1000; // twelve bits, signed: minutes east of UTC
    const bool local = (typeAndZone >> 12) == 1;
    const int offsetMinutes = local && zone >= -1440 && zone <= 1440 ? zone : 0;

    const int64_t days =
        DaysFromCivil(static_cast<int16_t>(UdfLe16(timestamp, 2)), timestamp[4], timestamp[5]);
    const int64_t seconds =
        days * 86400 + timestamp[6] * 3600 + timestamp[7] * 60 + int64_t{timestamp[8]};
    const int64_t nanoseconds =
        timestamp[9] * 10'000'000LL + timestamp[10] * 100'000LL + timestamp[11] * 1'000LL;
    return FileTimeFromUnix(seconds - offsetMinutes * 60LL, nanoseconds);
}

std::optional<TUdfIdentifier> TUdfIdentifierCursor::Next()
{
    if (At_ >= Bytes_.size() || Damaged_)
        return std::nullopt;
    const TUdfBytes rest = Bytes_.subspan(At_);
    if (rest.size() < 38 || !IsUdfTag(rest, kUdfFileIdentifier)) {
        // Zeros after the last identifier are padding some writers leave.
        Damaged_ = !std::ranges::all_of(rest, [](uint8_t b) { return b == 0; });
        At_ = Bytes_.size();
        return std::nullopt;
    }
    const size_t nameLength = rest[19];
    const size_t implementationUse = UdfLe16(rest, 36);
    const size_t length = 38 + implementationUse + nameLength;
    if (length > rest.size()) {
        Damaged_ = true;
        return std::nullopt;
    }
    At_ += (length + 3) & ~size_t{3};
    return TUdfIdentifier{rest[18], UdfAddressAt(rest, 24),
                          rest.subspan(38 + implementationUse, nameLength)};
}

bool IsUdfFolder(const TUdfIdentifier& identifier)
{
    return (identifier.Characteristics & kDirectory) != 0;
}

bool IsUdfListed(const TUdfIdentifier& identifier)
{
    return (identifier.Characteristics & (kDeleted | kParent | kStream)) == 0;
}

std::string UdfRawName(const TUdfIdentifier& identifier)
{
    std::string name = Utf8FromCs0(identifier.Name);
    std::replace(name.begin(), name.end(), '/', '?');
    std::replace(name.begin(), name.end(), '\0', '?');
    return name;
}
