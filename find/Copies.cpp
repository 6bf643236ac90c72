#include "find/Copies.h"

#include "collection/CollectionNode.h"
#include "find/NameFolding.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <string_view>
#include <tuple>

namespace {

constexpr size_t kCheckInterval = 16384; // files between two calls of keepSearching

struct TSized {
    uint64_t Size;
    uint32_t Entry;
};

// One file of a run of files of the same size, with what the comparison needs.
struct TMember {
    uint32_t Entry = 0;
    uint32_t Disc = 0; // the entry of its disc (unique search only)
    bool HasSum = false;
    TContentChecksum Sum;
    size_t NameStart = 0; // its folded name, in TRun::Names
    size_t NameSize = 0;
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

// The files of one size, ordered by their folded names and by their checksums, so that each
// name and each checksum is a range of positions.
class TRun {
public:
    void Reset(const TFindSnapshot& snapshot, const TChecksumTable& checksums,
               const TSized* begin, const TSized* end, const std::vector<uint32_t>* discs)
    {
        Members.clear();
        Names.clear();
        for (const TSized* file = begin; file != end; ++file) {
            TMember& member = Members.emplace_back();
            member.Entry = file->Entry;
            if (discs)
                member.Disc = (*discs)[file->Entry];
            if (!checksums.empty()) {
                const auto sum = checksums.find(snapshot.Entry(file->Entry).Id);
                if (sum != checksums.end()) {
                    member.HasSum = true;
                    member.Sum = sum->second;
                }
            }
            FoldName(snapshot.Name(file->Entry), Folded_);
            member.NameStart = Names.size();
            member.NameSize = Folded_.size();
            Names += Folded_;
        }
        ByName.resize(Members.size());
        std::iota(ByName.begin(), ByName.end(), 0);
        std::sort(ByName.begin(), ByName.end(),
                  [this](uint32_t a, uint32_t b) { return NameOf(a) < NameOf(b); });
        BySum.clear();
        for (uint32_t i = 0; i < Members.size(); ++i)
            if (Members[i].HasSum)
                BySum.push_back(i);
        std::sort(BySum.begin(), BySum.end(), [this](uint32_t a, uint32_t b) {
            return std::tie(Members[a].Sum.High, Members[a].Sum.Low) <
                   std::tie(Members[b].Sum.High, Members[b].Sum.Low);
        });
    }

    [[nodiscard]] std::string_view NameOf(uint32_t member) const
    {
        return std::string_view(Names).substr(Members[member].NameStart,
                                              Members[member].NameSize);
    }

    // Calls visit(first, last) for each range of ByName with one name.
    template <typename TVisit> void ForEachName(TVisit visit) const
    {
        for (size_t first = 0; first < ByName.size();) {
            size_t last = first + 1;
            while (last < ByName.size() && NameOf(ByName[last]) == NameOf(ByName[first]))
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
            while (last < BySum.size() && Members[BySum[last]].Sum == Members[BySum[first]].Sum)
                ++last;
            visit(first, last);
            first = last;
        }
    }

    std::vector<TMember> Members; // in the order found
    std::string Names;
    std::vector<uint32_t> ByName; // member positions ordered by folded name
    std::vector<uint32_t> BySum;  // positions of the members with a checksum, by checksum

private:
    std::string Folded_;
};

// Files accepted by keep, with their sizes, ordered by size and then in the order found.
template <typename TKeep>
std::vector<TSized> FilesBySize(const TFindSnapshot& snapshot, TKeep keep)
{
    std::vector<TSized> files;
    for (size_t i = 0; i < snapshot.size(); ++i) {
        const TFindSnapshot::TEntry& entry = snapshot.Entry(i);
        if ((entry.Flags & nfFile) && keep(i, entry))
            files.push_back({entry.Size, static_cast<uint32_t>(i)});
    }
    std::sort(files.begin(), files.end(), [](const TSized& a, const TSized& b) {
        return a.Size != b.Size ? a.Size < b.Size : a.Entry < b.Entry;
    });
    return files;
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
    const std::vector<TSized> files = FilesBySize(
        snapshot, [&](size_t index, const TFindSnapshot::TEntry&) {
            return Accepts(query, snapshot, index);
        });

    // Each group as the positions of its files in members, gathered before they are numbered.
    std::vector<std::vector<uint32_t>> groups;
    TRun run;
    TComponents components;
    std::vector<std::vector<uint32_t>> byRoot;
    const bool complete = ForEachSize(files, keepSearching, [&](const TSized* begin,
                                                                const TSized* end) {
        if (end - begin < 2)
            return;
        run.Reset(snapshot, checksums, begin, end, nullptr);
        const size_t count = run.Members.size();
        components.Reset(count);
        // Files of one name are copies of each other when one of them has no checksum: it may
        // be a copy of any of them.
        run.ForEachName([&](size_t first, size_t last) {
            bool anyWithout = false;
            for (size_t at = first; at < last; ++at)
                anyWithout |= !run.Members[run.ByName[at]].HasSum;
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
            byRoot[components.Root(member)].push_back(run.Members[member].Entry);
        for (std::vector<uint32_t>& group : byRoot)
            if (group.size() >= 2)
                groups.push_back(std::move(group));
    });
    if (!complete)
        return false;

    // Groups in the order of their first file; within a group the files are in the order found
    // already, since members are.
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
    // Every entry's disc: parents come before their children.
    std::vector<uint32_t> discs(snapshot.size());
    for (size_t i = 0; i < snapshot.size(); ++i) {
        const uint32_t parent = snapshot.Entry(i).Parent;
        discs[i] = parent == TFindSnapshot::NoParent ? static_cast<uint32_t>(i) : discs[parent];
    }
    // A copy has the size of its file, so only files of a size the bounds allow can be one.
    const TFindConditions& bounds = query.Conditions();
    std::vector<uint8_t> candidate(snapshot.size(), 0);
    const std::vector<TSized> files = FilesBySize(
        snapshot, [&](size_t index, const TFindSnapshot::TEntry& entry) {
            if ((bounds.SizeMin && entry.Size < *bounds.SizeMin) ||
                (bounds.SizeMax && entry.Size > *bounds.SizeMax))
                return false;
            candidate[index] = (!disc || discs[index] == *disc) && Accepts(query, snapshot, index);
            return true;
        });

    std::vector<uint32_t> unique;
    TRun run;
    std::vector<uint8_t> copied; // by member: a copy is on another disc
    const bool complete = ForEachSize(files, keepSearching, [&](const TSized* begin,
                                                                const TSized* end) {
        if (std::none_of(begin, end, [&](const TSized& file) { return candidate[file.Entry]; }))
            return;
        if (end - begin == 1) {
            unique.push_back(begin->Entry);
            return;
        }
        run.Reset(snapshot, checksums, begin, end, &discs);
        copied.assign(run.Members.size(), 0);
        // A file without a checksum is copied by any file of its name on another disc; one with a
        // checksum by a file of its name without one, or by a file of its checksum.
        run.ForEachName([&](size_t first, size_t last) {
            TDiscsSeen all;
            TDiscsSeen without;
            for (size_t at = first; at < last; ++at) {
                const TMember& member = run.Members[run.ByName[at]];
                all.Add(member.Disc);
                if (!member.HasSum)
                    without.Add(member.Disc);
            }
            for (size_t at = first; at < last; ++at) {
                const TMember& member = run.Members[run.ByName[at]];
                if (member.HasSum ? without.OtherThan(member.Disc) : all.OtherThan(member.Disc))
                    copied[run.ByName[at]] = 1;
            }
        });
        run.ForEachSum([&](size_t first, size_t last) {
            TDiscsSeen seen;
            for (size_t at = first; at < last; ++at)
                seen.Add(run.Members[run.BySum[at]].Disc);
            for (size_t at = first; at < last; ++at)
                if (seen.OtherThan(run.Members[run.BySum[at]].Disc))
                    copied[run.BySum[at]] = 1;
        });
        for (size_t member = 0; member < run.Members.size(); ++member)
            if (!copied[member] && candidate[run.Members[member].Entry])
                unique.push_back(run.Members[member].Entry);
    });
    if (!complete)
        return false;

    std::sort(unique.begin(), unique.end());
    found.Entries.insert(found.Entries.end(), unique.begin(), unique.end());
    found.Groups.insert(found.Groups.end(), unique.size(), 0);
    return true;
}
