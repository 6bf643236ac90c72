#include "discs/DiscContainers.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <vector>

// libcdio opens .cue and .nrg images, but as a CdIo_t: neither reader here sees one, it reads
// NRG and CUE only (no Alcohol or CloneCD images), and its parsers trust the sizes they read.
// The containers are read here instead, each into the runs of sectors a TSectorMap reads, so
// that both file systems find their blocks in every container and nothing is read outside a file.

namespace {

constexpr uint32_t kBlockSize = 2048;
constexpr uint32_t kRawSize = 2352;
constexpr uint32_t kRawWithSubchannel = 2448;
constexpr uint32_t kMode2Size = 2336;
// Descriptor files (.cue, .ccd, .mds) are small; a larger one is not one.
constexpr uint64_t kLargestDescriptor = 1 << 20;
// Between two sessions lie the lead-out of the first and the lead-in of the next.
constexpr uint32_t kSessionGap = 6750 + 4500;
constexpr std::array<uint8_t, 12> kSync = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

using TBytes = std::span<const uint8_t>;

// A track of a container, as its descriptor gives it.
struct TTrack {
    uint32_t Session = 1;
    uint32_t First = 0; // disc block of its index 1
    uint32_t Count = 0;
    size_t File = 0;
    uint64_t Offset = 0; // of its index 1 in the file
    uint32_t SectorSize = kBlockSize;
    bool Audio = false;
};

struct TFiles {
    std::vector<TUniqueFd> Fds;
    std::vector<uint64_t> Sizes;
};

std::string Lower(std::string text)
{
    std::ranges::transform(text, text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Extension(const std::string& path)
{
    return Lower(std::filesystem::path(path).extension().string());
}

// A plain file beside path with the same name and the extension given, in lower or upper case.
std::optional<std::string> Sibling(const std::string& path, const std::string& extension)
{
    std::string upper = extension;
    std::ranges::transform(upper, upper.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    for (const std::string& spelled : {extension, upper}) {
        std::filesystem::path sibling(path);
        sibling.replace_extension(spelled);
        struct stat status {};
        if (sibling.string() != path && ::stat(sibling.c_str(), &status) == 0 &&
            S_ISREG(status.st_mode))
            return sibling.string();
    }
    return std::nullopt;
}

// A plain file opened for reading, without waiting on anything else.
TUniqueFd OpenPlain(const std::string& path, uint64_t& size)
{
    TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat status {};
    if (!fd || ::fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0)
        return {};
    size = static_cast<uint64_t>(status.st_size);
    return fd;
}

// The descriptor file's bytes; nothing when it is too large to be one.
std::optional<std::vector<uint8_t>> ReadDescriptor(int fd, uint64_t size)
{
    if (size > kLargestDescriptor)
        return std::nullopt;
    std::vector<uint8_t> bytes(size);
    if (!ReadWhole(fd, 0, bytes))
        return std::nullopt;
    return bytes;
}

uint32_t Le16(TBytes b, size_t at)
{
    return b[at] | b[at + 1] << 8;
}
uint32_t Le32(TBytes b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint64_t Le64(TBytes b, size_t at)
{
    return Le32(b, at) | uint64_t{Le32(b, at + 4)} << 32;
}
uint32_t Be32(TBytes b, size_t at)
{
    return static_cast<uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}
uint64_t Be64(TBytes b, size_t at)
{
    return uint64_t{Be32(b, at)} << 32 | Be32(b, at + 4);
}

// Where the user data of a raw sector at offset begins: mode 1 after its header, mode 2 form 1
// after its subheader too. Nothing when the sector holds no data (an audio track) or is missing.
std::optional<uint32_t> RawDataOffset(int fd, uint64_t fileSize, uint64_t offset)
{
    std::array<uint8_t, 16> head{};
    if (offset > fileSize || fileSize - offset < head.size() || !ReadWhole(fd, offset, head) ||
        !std::equal(kSync.begin(), kSync.end(), head.begin()))
        return std::nullopt;
    switch (head[15]) {
    case 1:
        return 16;
    case 2:
        return 24;
    default:
        return std::nullopt;
    }
}

// The tracks as runs of data sectors, reading where each raw track's data begins from its first
// sector. Damaged when no track holds data.
TContainer MapOf(TFiles files, const std::vector<TTrack>& tracks)
{
    std::vector<TSectorRun> runs;
    std::optional<uint32_t> lastSession;
    uint32_t sessionStart = 0;
    for (const TTrack& track : tracks) {
        if (track.Audio || track.File >= files.Fds.size() || track.Count == 0 ||
            track.Offset >= files.Sizes[track.File])
            continue;
        TSectorRun run{track.First, track.Count, track.File, track.Offset, track.SectorSize, 0};
        if (track.SectorSize == kMode2Size) {
            run.DataOffset = 8;
        } else if (track.SectorSize == kRawSize || track.SectorSize == kRawWithSubchannel) {
            const std::optional<uint32_t> data =
                RawDataOffset(files.Fds[track.File].Get(), files.Sizes[track.File], track.Offset);
            if (!data)
                continue;
            run.DataOffset = *data;
        } else if (track.SectorSize != kBlockSize) {
            continue;
        }
        runs.push_back(run);
        if (!lastSession || track.Session > *lastSession) {
            lastSession = track.Session;
            sessionStart = track.First;
        }
    }
    if (runs.empty())
        return {TContainerKind::Damaged, nullptr};
    auto map = std::make_unique<TSectorMap>(std::move(files.Fds), std::move(runs), sessionStart);
    if (map->Empty())
        return {TContainerKind::Damaged, nullptr};
    return {TContainerKind::Sectors, std::move(map)};
}

// ---- CUE sheets ----

// The words of a line; a quoted word keeps its blanks.
std::vector<std::string> Words(std::string_view line)
{
    std::vector<std::string> words;
    for (size_t at = 0; at < line.size();) {
        if (std::isspace(static_cast<unsigned char>(line[at]))) {
            ++at;
        } else if (line[at] == '"') {
            const size_t end = line.find('"', at + 1);
            words.emplace_back(line.substr(
                at + 1, end == std::string_view::npos ? std::string_view::npos : end - at - 1));
            at = end == std::string_view::npos ? line.size() : end + 1;
        } else {
            size_t end = at;
            while (end < line.size() && !std::isspace(static_cast<unsigned char>(line[end])))
                ++end;
            words.emplace_back(line.substr(at, end - at));
            at = end;
        }
    }
    return words;
}

// "mm:ss:ff" as a count of sectors (75 a second).
std::optional<uint32_t> Frames(const std::string& time)
{
    uint32_t parts[3] = {};
    const char* at = time.data();
    const char* end = time.data() + time.size();
    for (int i = 0; i < 3; ++i) {
        const auto [next, error] = std::from_chars(at, end, parts[i]);
        if (error != std::errc() || (i < 2 ? next == end || *next != ':' : next != end))
            return std::nullopt;
        at = next + (i < 2 ? 1 : 0);
    }
    if (parts[0] > 200 || parts[1] > 59 || parts[2] > 74)
        return std::nullopt;
    return (parts[0] * 60 + parts[1]) * 75 + parts[2];
}

struct TCueTrack {
    uint32_t Session = 1;
    size_t File = 0;
    uint32_t SectorSize = kBlockSize;
    bool Audio = false;
    std::optional<uint32_t> Index0, Index1; // sectors from the start of its file
    uint32_t Pregap = 0;                    // sectors of silence the file does not hold
};

// The sheet's tracks; the files it names are looked for beside it.
TContainer ReadCue(const std::string& path, std::string_view text)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    TFiles files;
    std::vector<TCueTrack> tracks;
    uint32_t session = 1;
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos)
            lineEnd = text.size();
        const std::vector<std::string> words = Words(text.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
        if (words.empty())
            continue;
        const std::string keyword = Lower(words[0]);
        if (keyword == "file" && words.size() >= 2) {
            std::filesystem::path named = std::filesystem::path(words[1]);
            if (named.is_relative())
                named = folder / named;
            uint64_t size = 0;
            TUniqueFd fd = OpenPlain(named.string(), size);
            // A sheet kept after its image was renamed names the old file: with a single file,
            // the image of the sheet's own name is meant.
            if (!fd && files.Fds.empty())
                if (const std::optional<std::string> own = Sibling(path, ".bin"))
                    fd = OpenPlain(*own, size);
            if (!fd)
                return {TContainerKind::Damaged, nullptr};
            files.Fds.push_back(std::move(fd));
            files.Sizes.push_back(size);
        } else if (keyword == "track" && words.size() >= 3) {
            if (files.Fds.empty())
                return {TContainerKind::Damaged, nullptr};
            TCueTrack track;
            track.Session = session;
            track.File = files.Fds.size() - 1;
            const std::string mode = Lower(words[2]);
            track.Audio = mode == "audio" || mode == "cdg";
            const size_t slash = mode.find('/');
            if (!track.Audio) {
                uint32_t size = 0;
                if (slash == std::string::npos ||
                    std::from_chars(mode.data() + slash + 1, mode.data() + mode.size(), size).ec !=
                        std::errc())
                    return {TContainerKind::Damaged, nullptr};
                track.SectorSize = size;
            } else {
                track.SectorSize = kRawSize;
            }
            tracks.push_back(track);
        } else if (keyword == "index" && words.size() >= 3 && !tracks.empty()) {
            const std::optional<uint32_t> at = Frames(words[2]);
            if (!at)
                return {TContainerKind::Damaged, nullptr};
            if (words[1] == "00" || words[1] == "0")
                tracks.back().Index0 = *at;
            else if ((words[1] == "01" || words[1] == "1") && !tracks.back().Index1)
                tracks.back().Index1 = *at;
        } else if (keyword == "pregap" && words.size() >= 2 && !tracks.empty()) {
            tracks.back().Pregap = Frames(words[1]).value_or(0);
        } else if (keyword == "rem" && words.size() >= 3 && Lower(words[1]) == "session") {
            uint32_t number = 0;
            std::from_chars(words[2].data(), words[2].data() + words[2].size(), number);
            session = std::max(session, number);
        }
    }

    // Disc blocks run on from file to file, block 0 at the first track's index 1 (a pregap kept
    // before it lies before the disc's start); a new session begins after the gap between
    // sessions.
    std::vector<TTrack> mapped;
    uint64_t fileStart = 0; // disc block of the current file's first sector
    uint64_t shift = 0;     // blocks the files do not hold: pregaps and gaps between sessions
    uint32_t lastSession = tracks.empty() ? 1 : tracks.front().Session;
    if (std::ranges::any_of(tracks,
                            [](const TCueTrack& t) { return !t.Index1 || t.SectorSize == 0; }))
        return {TContainerKind::Damaged, nullptr};
    const uint64_t origin = tracks.empty() ? 0 : *tracks.front().Index1;
    for (size_t i = 0; i < tracks.size(); ++i) {
        const TCueTrack& track = tracks[i];
        if (i > 0 && track.File != tracks[i - 1].File) {
            const TCueTrack& before = tracks[i - 1];
            fileStart += files.Sizes[before.File] / before.SectorSize;
        }
        if (track.Session != lastSession) {
            shift += kSessionGap;
            lastSession = track.Session;
        }
        shift += track.Pregap;
        const uint64_t sectorsInFile = files.Sizes[track.File] / track.SectorSize;
        uint64_t end = sectorsInFile;
        if (i + 1 < tracks.size() && tracks[i + 1].File == track.File)
            end = std::min<uint64_t>(end, tracks[i + 1].Index0.value_or(*tracks[i + 1].Index1));
        if (fileStart + shift + *track.Index1 < origin)
            continue;
        const uint64_t first = fileStart + shift + *track.Index1 - origin;
        if (end <= *track.Index1 || first + (end - *track.Index1) > UINT32_MAX)
            continue;
        mapped.push_back({track.Session, static_cast<uint32_t>(first),
                          static_cast<uint32_t>(end - *track.Index1), track.File,
                          uint64_t{*track.Index1} * track.SectorSize, track.SectorSize,
                          track.Audio});
    }
    return MapOf(std::move(files), mapped);
}

// ---- Nero images ----

// The chunks of a Nero image: a footer at its end says where they begin.
TContainer ReadNrg(int fd, uint64_t size)
{
    std::array<uint8_t, 12> footer{};
    if (size < footer.size() || !ReadWhole(fd, size - footer.size(), footer))
        return {TContainerKind::Plain, nullptr};
    uint64_t chunks = 0;
    bool wide = false; // 64-bit offsets
    if (std::memcmp(footer.data(), "NER5", 4) == 0) {
        chunks = Be64(footer, 4);
        wide = true;
    } else if (std::memcmp(footer.data() + 4, "NERO", 4) == 0) {
        chunks = Be32(footer, 8);
    } else {
        return {TContainerKind::Plain, nullptr};
    }
    const uint64_t footerStart = size - (wide ? 12 : 8);
    if (chunks >= footerStart || footerStart - chunks > kLargestDescriptor)
        return {TContainerKind::Damaged, nullptr};
    std::vector<uint8_t> bytes(footerStart - chunks);
    if (!ReadWhole(fd, chunks, bytes))
        return {TContainerKind::Damaged, nullptr};
    const TBytes all(bytes);

    std::vector<std::vector<uint32_t>> cueStarts; // each session's index-1 blocks, track by track
    std::vector<uint32_t> sessionTracks;          // from SINF: tracks of each session
    std::vector<TTrack> tracks;
    size_t daoSessions = 0;
    for (size_t at = 0; at + 8 <= all.size();) {
        const std::string_view id(reinterpret_cast<const char*>(all.data() + at), 4);
        const uint32_t length = Be32(all, at + 4);
        if (length > all.size() - at - 8)
            return {TContainerKind::Damaged, nullptr};
        const TBytes data = all.subspan(at + 8, length);
        at += 8 + length;
        if (id == "END!")
            break;
        if (id == "CUEX" || id == "CUES") {
            std::vector<uint32_t>& starts = cueStarts.emplace_back();
            for (size_t e = 0; e + 8 <= data.size(); e += 8) {
                // CUEX gives blocks; CUES gives minutes, seconds and frames.
                const bool indexOne = data[e + 2] == 1 && data[e + 1] != 0 && data[e + 1] != 0xAA;
                if (!indexOne)
                    continue;
                if (id == "CUEX")
                    starts.push_back(Be32(data, e + 4) + 0u);
                else {
                    const uint32_t msf = (data[e + 5] * 60 + data[e + 6]) * 75 + data[e + 7];
                    starts.push_back(msf >= 150 ? msf - 150 : 0);
                }
            }
        } else if (id == "SINF") {
            if (data.size() >= 4)
                sessionTracks.push_back(Be32(data, 0));
        } else if (id == "DAOX" || id == "DAOI") {
            const size_t entry = id == "DAOX" ? 42 : 30;
            ++daoSessions;
            for (size_t e = 22; e + entry <= data.size(); e += entry) {
                TTrack track;
                track.Session = static_cast<uint32_t>(daoSessions);
                track.SectorSize = data[e + 12] << 8 | data[e + 13];
                track.Audio = data[e + 14] == 7;
                const uint64_t index1 = id == "DAOX" ? Be64(data, e + 26) : Be32(data, e + 22);
                const uint64_t end = id == "DAOX" ? Be64(data, e + 34) : Be32(data, e + 26);
                if (track.SectorSize == 0 || end < index1 || end > size)
                    return {TContainerKind::Damaged, nullptr};
                track.Offset = index1;
                track.Count = static_cast<uint32_t>(
                    std::min<uint64_t>((end - index1) / track.SectorSize, UINT32_MAX));
                tracks.push_back(track);
            }
        } else if (id == "ETN2" || id == "ETNF") {
            const size_t entry = id == "ETN2" ? 32 : 20;
            for (size_t e = 0; e + entry <= data.size(); e += entry) {
                TTrack track;
                const bool w = id == "ETN2";
                track.Offset = w ? Be64(data, e) : Be32(data, e);
                const uint64_t trackBytes = w ? Be64(data, e + 8) : Be32(data, e + 4);
                const uint32_t mode = Be32(data, e + (w ? 16 : 8));
                track.First = Be32(data, e + (w ? 20 : 12));
                track.Audio = mode == 7;
                track.SectorSize = mode == 3 ? kMode2Size : mode >= 5 ? kRawSize : kBlockSize;
                track.Count = static_cast<uint32_t>(
                    std::min<uint64_t>(trackBytes / track.SectorSize, UINT32_MAX));
                tracks.push_back(track);
            }
        }
    }
    // Disc-at-once tracks take their blocks from the cue chunk of their session, in order, and
    // without one run on from the track before.
    if (daoSessions > 0) {
        std::vector<size_t> seen(daoSessions + 1, 0);
        uint64_t next = 0;
        for (TTrack& track : tracks) {
            const size_t s = track.Session - 1;
            const size_t n = seen[track.Session]++;
            if (s < cueStarts.size() && n < cueStarts[s].size())
                next = cueStarts[s][n];
            track.First = static_cast<uint32_t>(std::min<uint64_t>(next, UINT32_MAX));
            next += track.Count;
        }
    } else if (!sessionTracks.empty()) { // track-at-once: SINF tells the sessions
        size_t index = 0;
        for (size_t s = 0; s < sessionTracks.size(); ++s)
            for (uint32_t t = 0; t < sessionTracks[s] && index < tracks.size(); ++t)
                tracks[index++].Session = static_cast<uint32_t>(s + 1);
    }
    TFiles files;
    TUniqueFd own(::dup(fd));
    if (!own)
        return {TContainerKind::Damaged, nullptr};
    files.Fds.push_back(std::move(own));
    files.Sizes.push_back(size);
    return MapOf(std::move(files), tracks);
}

// ---- Alcohol images ----

// The .mds descriptor of an .mdf image: sessions, and in each its tracks with their blocks and
// offsets in the .mdf.
TContainer ReadMds(TBytes mds, const std::string& mdfPath)
{
    constexpr size_t kSessionSize = 24, kTrackSize = 80;
    if (mds.size() < 0x54 || std::memcmp(mds.data(), "MEDIA DESCRIPTOR", 16) != 0)
        return {TContainerKind::Damaged, nullptr};
    TFiles files;
    uint64_t size = 0;
    TUniqueFd mdf = OpenPlain(mdfPath, size);
    if (!mdf)
        return {TContainerKind::Damaged, nullptr};
    files.Fds.push_back(std::move(mdf));
    files.Sizes.push_back(size);

    const uint32_t sessions = Le16(mds, 0x14);
    const uint64_t sessionsAt = Le32(mds, 0x50);
    std::vector<TTrack> tracks;
    for (uint32_t s = 0; s < sessions; ++s) {
        const uint64_t at = sessionsAt + static_cast<uint64_t>(s) * kSessionSize;
        if (at > mds.size() || mds.size() - at < kSessionSize)
            return {TContainerKind::Damaged, nullptr};
        const TBytes session = mds.subspan(at, kSessionSize);
        const uint32_t sessionEnd = Le32(session, 4);
        const uint32_t blocks = session[10];
        const uint64_t tracksAt = Le32(session, 20);
        const size_t firstOfSession = tracks.size();
        for (uint32_t b = 0; b < blocks; ++b) {
            const uint64_t t = tracksAt + static_cast<uint64_t>(b) * kTrackSize;
            if (t > mds.size() || mds.size() - t < kTrackSize)
                return {TContainerKind::Damaged, nullptr};
            const TBytes block = mds.subspan(t, kTrackSize);
            const uint8_t point = block[4];
            if (point == 0 || point > 99)
                continue; // the lead-in's entries
            TTrack track;
            track.Session = Le16(session, 8);
            track.SectorSize = Le16(block, 16);
            track.Audio = (block[0] & 0x0F) == 0x09;
            track.First = Le32(block, 36);
            track.Offset = Le64(block, 40);
            const uint64_t extra = Le32(block, 12);
            if (extra != 0 && extra <= mds.size() && mds.size() - extra >= 8)
                track.Count = Le32(mds, extra + 4);
            else
                track.Count = sessionEnd > track.First ? sessionEnd - track.First : 0;
            tracks.push_back(track);
        }
        // Without lengths, a track ends where the next one of its session begins.
        for (size_t i = firstOfSession; i + 1 < tracks.size(); ++i)
            if (tracks[i + 1].First > tracks[i].First)
                tracks[i].Count = std::min(tracks[i].Count, tracks[i + 1].First - tracks[i].First);
    }
    return MapOf(std::move(files), tracks);
}

// ---- CloneCD images ----

// The [Entry] sections of a .ccd that name tracks, with the .img holding every block of the disc
// in order, 2352 bytes each.
TContainer ReadCcd(std::string_view text, const std::string& imgPath)
{
    struct TEntry {
        uint32_t Session = 1, Point = 0, Control = 0;
        int64_t Lba = -1;
    };
    std::vector<TEntry> entries;
    bool inEntry = false;
    bool cloneCd = false;
    size_t lineStart = 0;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos)
            lineEnd = text.size();
        std::string line(text.substr(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
        std::erase_if(line, [](unsigned char c) { return std::isspace(c); });
        if (line.starts_with('[')) {
            const std::string section = Lower(line);
            cloneCd = cloneCd || section == "[clonecd]";
            inEntry = section.starts_with("[entry");
            if (inEntry)
                entries.emplace_back();
            continue;
        }
        const size_t equals = line.find('=');
        if (!inEntry || equals == std::string::npos)
            continue;
        const std::string key = Lower(line.substr(0, equals));
        const std::string value = line.substr(equals + 1);
        int64_t number = 0;
        const bool hex = value.starts_with("0x") || value.starts_with("0X");
        const char* from = value.data() + (hex ? 2 : 0);
        if (std::from_chars(from, value.data() + value.size(), number, hex ? 16 : 10).ec !=
            std::errc())
            continue;
        TEntry& entry = entries.back();
        if (key == "session")
            entry.Session = static_cast<uint32_t>(std::clamp<int64_t>(number, 0, 99));
        else if (key == "point")
            entry.Point = static_cast<uint32_t>(std::clamp<int64_t>(number, 0, 255));
        else if (key == "control")
            entry.Control = static_cast<uint32_t>(std::clamp<int64_t>(number, 0, 255));
        else if (key == "plba")
            entry.Lba = number;
    }
    if (!cloneCd)
        return {TContainerKind::Damaged, nullptr};
    TFiles files;
    uint64_t size = 0;
    TUniqueFd img = OpenPlain(imgPath, size);
    if (!img)
        return {TContainerKind::Damaged, nullptr};
    files.Fds.push_back(std::move(img));
    files.Sizes.push_back(size);

    std::vector<TTrack> tracks;
    for (const TEntry& entry : entries) {
        if (entry.Point < 1 || entry.Point > 99 || entry.Lba < 0 || entry.Lba > UINT32_MAX / 2)
            continue;
        TTrack track;
        track.Session = entry.Session;
        track.First = static_cast<uint32_t>(entry.Lba);
        track.Audio = (entry.Control & 0x04) == 0;
        track.SectorSize = kRawSize;
        track.Offset = uint64_t{track.First} * kRawSize;
        tracks.push_back(track);
    }
    std::ranges::sort(tracks, {}, &TTrack::First);
    for (size_t i = 0; i < tracks.size(); ++i) {
        const uint64_t end =
            i + 1 < tracks.size() ? tracks[i + 1].First : std::max<uint64_t>(size / kRawSize, 0);
        tracks[i].Count = end > tracks[i].First ? static_cast<uint32_t>(end - tracks[i].First) : 0;
    }
    return MapOf(std::move(files), tracks);
}

// ---- Raw images without a descriptor ----

// A file of raw sectors from its start: its first sector begins with the sync pattern.
TContainer ReadRaw(int fd, uint64_t size)
{
    std::array<uint8_t, 12> second{};
    // Sectors with their 96 bytes of subchannel have the next sync 2448 bytes on.
    const bool subchannel = size >= kRawWithSubchannel + second.size() &&
                            ReadWhole(fd, kRawWithSubchannel, second) &&
                            std::ranges::equal(second, kSync);
    const uint32_t sectorSize = subchannel ? kRawWithSubchannel : kRawSize;
    if (!RawDataOffset(fd, size, 0))
        return {TContainerKind::Plain, nullptr};
    TFiles files;
    TUniqueFd own(::dup(fd));
    if (!own)
        return {TContainerKind::Damaged, nullptr};
    files.Fds.push_back(std::move(own));
    files.Sizes.push_back(size);
    TTrack track;
    track.SectorSize = sectorSize;
    track.Count = static_cast<uint32_t>(std::min<uint64_t>(size / sectorSize, UINT32_MAX));
    return MapOf(std::move(files), {track});
}

// A container read from its descriptor file at path.
TContainer FromDescriptor(const std::string& path, const std::string& extension)
{
    uint64_t size = 0;
    const TUniqueFd fd = OpenPlain(path, size);
    const std::optional<std::vector<uint8_t>> bytes =
        fd ? ReadDescriptor(fd.Get(), size) : std::nullopt;
    if (!bytes)
        return {TContainerKind::Damaged, nullptr};
    const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    if (extension == ".cue")
        return ReadCue(path, text);
    if (extension == ".ccd") {
        const std::optional<std::string> img = Sibling(path, ".img");
        return img ? ReadCcd(text, *img) : TContainer{TContainerKind::Damaged, nullptr};
    }
    const std::optional<std::string> mdf = Sibling(path, ".mdf");
    return mdf ? ReadMds(*bytes, *mdf) : TContainer{TContainerKind::Damaged, nullptr};
}

} // namespace

TContainer OpenContainer(const std::string& path, int fd, uint64_t size)
{
    const std::string extension = Extension(path);
    if (extension == ".cue" || extension == ".ccd" || extension == ".mds")
        return FromDescriptor(path, extension);
    // The data file of a container whose descriptor lies beside it.
    using TNames = std::vector<std::string>;
    const TNames descriptors = extension == ".bin"   ? TNames{".cue"}
                               : extension == ".img" ? TNames{".ccd", ".cue"}
                               : extension == ".mdf" ? TNames{".mds"}
                                                     : TNames{};
    for (const std::string& descriptor : descriptors)
        if (const std::optional<std::string> beside = Sibling(path, descriptor)) {
            TContainer container = FromDescriptor(*beside, descriptor);
            if (container.Kind == TContainerKind::Sectors)
                return container;
        }
    if (TContainer nrg = ReadNrg(fd, size); nrg.Kind != TContainerKind::Plain)
        return nrg;
    return ReadRaw(fd, size);
}
