#include "search/Copies.h"

#include "collection/CollectionNode.h"
#include "search/NameFolding.h"

#include <xxhash.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

namespace {

constexpr size_t kCheckInterval = 16384; // files between two calls of keepSearching

constexpr uint32_t kNoSum = UINT32_MAX;

// A file as the comparison needs it, gathered in one pass over the snapshot in its order, so
// that the runs of one size read these records and not the snapshot's scattered entries.
struct TFile {
    // The folded name's XXH3-128: names are compared by it as contents are by their checksums,
    // so that a run never goes back to the snapshot's scattered names.
    TContentChecksum NameHash;
    uint32_t Sum = 0; // its checksum's place in TEntrySums, or kNoSum
    uint32_t Entry = 0;
    uint32_t Disc = 0; // the entry of its disc
    [[nodiscard]] bool HasSum() const { return Sum != kNoSum; }
};

// The checksums of the snapshot's files by entry: a map of node ids costs a cache miss or two at
// every look-up, an array one at most.
class TEntrySums {
public:
    TEntrySums(const TFindSnapshot& snapshot, const TChecksumTable& checksums)
    {
        if (checksums.empty())
            return;
        uint32_t largestId = 0;
        for (size_t i = 0; i < snapshot.size(); ++i)
            largestId = std::max(largestId, snapshot.Entry(i).Id);
        std::vector<uint32_t> entryOf(size_t{largestId} + 1, kNone);
        for (size_t i = 0; i < snapshot.size(); ++i)
            entryOf[snapshot.Entry(i).Id] = static_cast<uint32_t>(i);
        Index_.assign(snapshot.size(), kNone);
        Sums_.reserve(checksums.size());
        for (const auto& [id, sum] : checksums) {
            if (id >= entryOf.size() || entryOf[id] == kNone)
                continue; // a file no longer in the collection
            Index_[entryOf[id]] = static_cast<uint32_t>(Sums_.size());
            Sums_.push_back(sum);
        }
    }
    // The place of the entry's checksum, or kNoSum.
    [[nodiscard]] uint32_t Of(size_t entry) const
    {
        return Index_.empty() ? kNoSum : Index_[entry];
    }
    [[nodiscard]] const TContentChecksum& operator[](uint32_t place) const { return Sums_[place]; }

private:
    static constexpr uint32_t kNone = kNoSum;
    std::vector<uint32_t> Index_;
    std::vector<TContentChecksum> Sums_;
};

// The discs seen among some files: whether one of them differs from a given disc.
struct TDiscsSeen {
    static constexpr uint32_t None = UINT32_MAX;
    uint32_t First = None;
    bool More = false; // a second, different disc was seen

    void Add(uint32_t disc)
    {
        if (First == None)
            First = disc;
        else if (disc != First)
            More = true;
    }
    [[nodiscard]] bool OtherThan(uint32_t disc) const
    {
        return First != None && (First != disc || More);
    }
};

// Where a file is in the size order: its size, and its position among the files gathered.
struct TSized {
    uint64_t Size;
    uint32_t File;
};

bool Less(const TContentChecksum& a, const TContentChecksum& b)
{
    return std::tie(a.High, a.Low) < std::tie(b.High, b.Low);
}

// The files of one size, ordered by their folded names and by their checksums, so that each
// name and each checksum is a range of positions.
class TRun {
public:
    void Reset(const std::vector<TFile>& files, const TEntrySums& sums, const TSized* begin,
               const TSized* end)
    {
        Members_.clear();
        for (const TSized* at = begin; at != end; ++at)
            Members_.push_back(&files[at->File]);
        Sums_ = &sums;
        const auto count = static_cast<uint32_t>(Members_.size());
        ByName.resize(count);
        std::iota(ByName.begin(), ByName.end(), 0);
        std::sort(ByName.begin(), ByName.end(), [this](uint32_t a, uint32_t b) {
            return Less(Members_[a]->NameHash, Members_[b]->NameHash);
        });
        BySum.clear();
        for (uint32_t i = 0; i < count; ++i)
            if (Members_[i]->HasSum())
                BySum.push_back(i);
        std::sort(BySum.begin(), BySum.end(), [this, &sums](uint32_t a, uint32_t b) {
            return Less(sums[Members_[a]->Sum], sums[Members_[b]->Sum]);
        });
    }

    [[nodiscard]] size_t size() const { return Members_.size(); }
    [[nodiscard]] const TFile& Member(uint32_t position) const { return *Members_[position]; }

    // Calls visit(first, last) for each range of ByName with one folded name.
    template <typename TVisit> void ForEachName(TVisit visit) const
    {
        for (size_t first = 0; first < ByName.size();) {
            size_t last = first + 1;
            while (last < ByName.size() &&
                   Members_[ByName[last]]->NameHash == Members_[ByName[first]]->NameHash)
                ++last;
            visit(first, last);
            first = last;
        }
    }
    // Calls visit(first, last) for each range of BySum with one checksum.
    template <typename TVisit> void ForEachSum(TVisit visit) const
    {
        for (size_t first = 0; first < BySum.size();) {
            size_t last = first + 1;
            while (last < BySum.size() &&
                   (*Sums_)[Members_[BySum[last]]->Sum] == (*Sums_)[Members_[BySum[first]]->Sum])
                ++last;
            visit(first, last);
            first = last;
        }
    }

    std::vector<uint32_t> ByName; // member positions ordered by folded name
    std::vector<uint32_t> BySum;  // positions of the members with a checksum, by checksum

private:
    std::vector<const TFile*> Members_; // in the order found
    const TEntrySums* Sums_ = nullptr;
};

// The files gathered, and their order by size (and within a size, the order found).
struct TFilesBySize {
    TFilesBySize(const TFindSnapshot& snapshot, const TChecksumTable& checksums)
        : Sums(snapshot, checksums)
    {
    }
    TEntrySums Sums;
    std::vector<TFile> Files;
    std::vector<TSized> Order;
};

// Files accepted by keep(index, entry, entry of its disc), ordered by size and then in the order
// found.
template <typename TKeep>
TFilesBySize FilesBySize(const TFindSnapshot& snapshot, const TChecksumTable& checksums, TKeep keep)
{
    TFilesBySize made(snapshot, checksums);
    std::vector<TFile>& files = made.Files;
    std::vector<uint32_t> discs(snapshot.size()); // parents come before their children
    std::vector<uint64_t> sizes;
    std::string folded;
    for (size_t i = 0; i < snapshot.size(); ++i) {
        const TFindSnapshot::TEntry& entry = snapshot.Entry(i);
        discs[i] = entry.Parent == TFindSnapshot::NoParent ? static_cast<uint32_t>(i)
                                                           : discs[entry.Parent];
        if (!(entry.Flags & nfFile) || !keep(i, entry, discs[i]))
            continue;
        TFile& file = files.emplace_back();
        sizes.push_back(entry.Size);
        FoldName(snapshot.Name(i), folded);
        const XXH128_hash_t hash = XXH3_128bits(folded.data(), folded.size());
        file.NameHash = {hash.low64, hash.high64};
        file.Sum = made.Sums.Of(i);
        file.Entry = static_cast<uint32_t>(i);
        file.Disc = discs[i];
    }
    std::vector<TSized>& order = made.Order;
    order.reserve(files.size());
    uint64_t differing = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        order.push_back({sizes[i], static_cast<uint32_t>(i)});
        differing |= sizes[i] ^ sizes.front();
    }
    // A stable radix sort by size, 16 bits a pass, skipping the passes whose digits are all the
    // same: files come in the order found, and stay so within a size.
    std::vector<TSized> sorted(order.size());
    std::vector<uint32_t> counts(size_t{1} << 16);
    for (unsigned shift = 0; shift < 64; shift += 16) {
        if (((differing >> shift) & 0xFFFF) == 0)
            continue;
        std::fill(counts.begin(), counts.end(), 0);
        for (const TSized& file : order)
            ++counts[(file.Size >> shift) & 0xFFFF];
        uint32_t start = 0;
        for (uint32_t& count : counts)
            start += std::exchange(count, start);
        for (const TSized& file : order)
            sorted[counts[(file.Size >> shift) & 0xFFFF]++] = file;
        order.swap(sorted);
    }
    return made;
}

bool Accepts(TFindQuery& query, const TFindSnapshot& snapshot, size_t index)
{
    const TFindSnapshot::TEntry& entry = snapshot.Entry(index);
    return query.Matches({snapshot.Name(index), false, entry.Size, entry.Time});
}

// Calls visit(begin, end) for each run of files of one size; false when keepSearching stopped.
template <typename TVisit>
bool ForEachSize(const std::vector<TSized>& files, const TKeepSearching& keepSearching,
                 TVisit visit)
{
    size_t sinceCheck = 0;
    for (size_t first = 0; first < files.size();) {
        size_t last = first + 1;
        while (last < files.size() && files[last].Size == files[first].Size)
            ++last;
        visit(files.data() + first, files.data() + last);
        sinceCheck += last - first;
        first = last;
        if (sinceCheck >= kCheckInterval) {
            sinceCheck = 0;
            if (keepSearching && !keepSearching())
                return false;
        }
    }
    return true;
}

// Union-find over the members of a run.
class TComponents {
public:
    void Reset(size_t count)
    {
        Parent_.resize(count);
        std::iota(Parent_.begin(), Parent_.end(), 0);
    }
    uint32_t Root(uint32_t member)
    {
        while (Parent_[member] != member) {
            Parent_[member] = Parent_[Parent_[member]];
            member = Parent_[member];
        }
        return member;
    }
    void Join(uint32_t a, uint32_t b)
    {
        a = Root(a);
        b = Root(b);
        // The smaller position stays the root, so a group's root is its first file.
        if (a < b)
            Parent_[b] = a;
        else if (b < a)
            Parent_[a] = b;
    }

private:
    std::vector<uint32_t> Parent_;
};

} // namespace

bool FindDuplicates(const TFindSnapshot& snapshot, const TChecksumTable& checksums,
                    TFindQuery& query, TCopiesFound& found, const TKeepSearching& keepSearching)
{
    const TFilesBySize files =
        FilesBySize(snapshot, checksums, [&](size_t index, const TFindSnapshot::TEntry&, uint32_t) {
            return Accepts(query, snapshot, index);
        });

    // Each group as the entries of its files, gathered before they are numbered.
    std::vector<std::vector<uint32_t>> groups;
    TRun run;
    TComponents components;
    std::vector<std::vector<uint32_t>> byRoot;
    const bool complete =
        ForEachSize(files.Order, keepSearching, [&](const TSized* begin, const TSized* end) {
            if (end - begin < 2)
                return;
            run.Reset(files.Files, files.Sums, begin, end);
            const auto count = static_cast<uint32_t>(end - begin);
            components.Reset(count);
            // Files of one name are copies of each other when one of them has no checksum: it
            // may be a copy of any of them.
            run.ForEachName([&](size_t first, size_t last) {
                bool anyWithout = false;
                for (size_t at = first; at < last; ++at)
                    anyWithout |= !run.Member(run.ByName[at]).HasSum();
                if (anyWithout)
                    for (size_t at = first + 1; at < last; ++at)
                        components.Join(run.ByName[first], run.ByName[at]);
            });
            run.ForEachSum([&](size_t first, size_t last) {
                for (size_t at = first + 1; at < last; ++at)
                    components.Join(run.BySum[first], run.BySum[at]);
            });
            byRoot.assign(count, {});
            for (uint32_t member = 0; member < count; ++member)
                byRoot[components.Root(member)].push_back(run.Member(member).Entry);
            for (std::vector<uint32_t>& group : byRoot)
                if (group.size() >= 2)
                    groups.push_back(std::move(group));
        });
    if (!complete)
        return false;

    // Groups in the order of their first file; within a group the files are in the order found
    // already, since the members of a run are.
    std::sort(groups.begin(), groups.end(),
              [](const auto& a, const auto& b) { return a.front() < b.front(); });
    uint32_t number = 0;
    for (const std::vector<uint32_t>& group : groups) {
        ++number;
        found.Entries.insert(found.Entries.end(), group.begin(), group.end());
        found.Groups.insert(found.Groups.end(), group.size(), number);
    }
    return true;
}

bool FindUnique(const TFindSnapshot& snapshot, const TChecksumTable& checksums, TFindQuery& query,
                std::optional<uint32_t> disc, TCopiesFound& found,
                const TKeepSearching& keepSearching)
{
    // A copy has the size of its file, so only files of a size the bounds allow can be one.
    const TFindConditions& bounds = query.Conditions();
    std::vector<uint8_t> candidate(snapshot.size(), 0);
    const TFilesBySize files =
        FilesBySize(snapshot, checksums,
                    [&](size_t index, const TFindSnapshot::TEntry& entry, uint32_t discOf) {
                        if ((bounds.SizeMin && entry.Size < *bounds.SizeMin) ||
                            (bounds.SizeMax && entry.Size > *bounds.SizeMax))
                            return false;
                        candidate[index] =
                            (!disc || discOf == *disc) && Accepts(query, snapshot, index);
                        return true;
                    });

    std::vector<uint32_t> unique;
    TRun run;
    std::vector<uint8_t> copied; // by member: a copy is on another disc
    const bool complete =
        ForEachSize(files.Order, keepSearching, [&](const TSized* begin, const TSized* end) {
            const auto candidateAt = [&](const TSized& at) {
                return candidate[files.Files[at.File].Entry] != 0;
            };
            if (std::none_of(begin, end, candidateAt))
                return;
            if (end - begin == 1) {
                unique.push_back(files.Files[begin->File].Entry);
                return;
            }
            run.Reset(files.Files, files.Sums, begin, end);
            copied.assign(static_cast<size_t>(end - begin), 0);
            // A file without a checksum is copied by any file of its name on another disc; one
            // with a checksum by a file of its name without one, or by a file of its checksum.
            run.ForEachName([&](size_t first, size_t last) {
                TDiscsSeen all;
                TDiscsSeen without;
                for (size_t at = first; at < last; ++at) {
                    const TFile& member = run.Member(run.ByName[at]);
                    all.Add(member.Disc);
                    if (!member.HasSum())
                        without.Add(member.Disc);
                }
                for (size_t at = first; at < last; ++at) {
                    const TFile& member = run.Member(run.ByName[at]);
                    if (member.HasSum() ? without.OtherThan(member.Disc)
                                        : all.OtherThan(member.Disc))
                        copied[run.ByName[at]] = 1;
                }
            });
            run.ForEachSum([&](size_t first, size_t last) {
                TDiscsSeen seen;
                for (size_t at = first; at < last; ++at)
                    seen.Add(run.Member(run.BySum[at]).Disc);
                for (size_t at = first; at < last; ++at)
                    if (seen.OtherThan(run.Member(run.BySum[at]).Disc))
                        copied[run.BySum[at]] = 1;
            });
            for (uint32_t member = 0; member < run.size(); ++member)
                if (!copied[member] && candidate[run.Member(member).Entry])
                    unique.push_back(run.Member(member).Entry);
        });
    if (!complete)
        return false;

    std::sort(unique.begin(), unique.end());
    found.Entries.insert(found.Entries.end(), unique.begin(), unique.end());
    found.Groups.insert(found.Groups.end(), unique.size(), 0);
    return true;
}
