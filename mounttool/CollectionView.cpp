#include "mounttool/CollectionView.h"

#include "platform/AnsiText.h"

#include <xxhash.h>

namespace {

constexpr uint64_t kLowBits = (uint64_t{1} << 56) - 1;

// The longest start of utf8 of at most most bytes that does not cut a character.
std::string_view FirstBytes(std::string_view utf8, size_t most)
{
    if (utf8.size() <= most)
        return utf8;
    size_t end = most;
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
        --end;
    return utf8.substr(0, end);
}

} // namespace

std::string MountName(std::string_view ansi)
{
    std::string utf8 = AnsiToUtf8(ansi);
    if (utf8.empty())
        return "(без имени)";
    if (utf8 == ".")
        return "\u2024";
    if (utf8 == "..")
        return "\u2025";
    if (utf8.find('/') != std::string::npos) {
        std::string replaced;
        for (const char c : utf8) {
            if (c == '/')
                replaced += "\u2215";
            else
                replaced += c;
        }
        utf8 = std::move(replaced);
    }
    if (utf8.size() > kLongestMountName)
        utf8.resize(FirstBytes(utf8, kLongestMountName).size());
    return utf8;
}

std::string TwinName(std::string_view base, unsigned number, bool file)
{
    const std::string mark = " (" + std::to_string(number) + ")";
    std::string_view stem = base;
    std::string_view extension;
    // An extension that is most of the name is not kept apart: the name would be lost to it.
    constexpr size_t kLongestExtension = 32;
    if (const size_t dot = base.rfind('.'); file && dot != std::string_view::npos && dot > 0 &&
                                            base.size() - dot <= kLongestExtension) {
        stem = base.substr(0, dot);
        extension = base.substr(dot);
    }
    std::string name(FirstBytes(stem, kLongestMountName - mark.size() - extension.size()));
    name += mark;
    name += extension;
    return name;
}

TCollectionView::TCollectionView(std::unique_ptr<TFendrel> collection, unsigned number,
                                 uint64_t root, uint64_t seed)
    : Collection_(std::move(collection))
    , Number_(number)
    , Root_(root)
    , Seed_(seed)
{
    const size_t nodes = Collection_->Nodes.size();
    Inos_.assign(nodes + 1, 0);
    size_t slots = 16;
    while (slots < nodes + nodes / 3 + 1)
        slots *= 2;
    Table_.assign(slots, 0);
    Mask_ = slots - 1;

    // Folder by folder, the entries of each before those of its subfolders; a tree 300,000 deep
    // is walked so as well as a flat one.
    std::vector<uint32_t> folders{0};
    std::unordered_map<std::string, unsigned> twins;
    while (!folders.empty()) {
        const uint32_t folder = folders.back();
        folders.pop_back();
        NameEntries(folder, twins);
        for (const uint32_t id : EntriesOf(folder)) {
            const TCollectionNode& node = Collection_->GetNode(id);
            if (!node.Is(nfFile) && node.ParentId == folder && !node.Children.empty())
                folders.push_back(id);
        }
    }
}

uint64_t TCollectionView::MakeIno(uint64_t folder, std::string_view name) const
{
    const uint64_t hash =
        XXH3_64bits_withSeed(name.data(), name.size(), Seed_ ^ (folder * 0x9E3779B97F4A7C15));
    uint64_t low = hash & kLowBits;
    if (low < 2) // 1 is a collection folder's number
        low += 2;
    return Number_ << 56 | low;
}

uint32_t TCollectionView::Slot(uint64_t ino) const
{
    for (uint64_t slot = ino & Mask_;; slot = (slot + 1) & Mask_) {
        const uint32_t id = Table_[slot];
        if (id == 0 || Inos_[id] == ino)
            return id;
    }
}

void TCollectionView::Insert(uint32_t id, uint64_t ino)
{
    Inos_[id] = ino;
    uint64_t slot = ino & Mask_;
    while (Table_[slot] != 0)
        slot = (slot + 1) & Mask_;
    Table_[slot] = id;
}

void TCollectionView::NameEntries(uint32_t folder, std::unordered_map<std::string, unsigned>& twins)
{
    twins.clear();
    const uint64_t folderIno = InoOf(folder);
    for (const uint32_t id : EntriesOf(folder)) {
        if (id >= Inos_.size() || Inos_[id] != 0)
            continue; // listed twice: a collection made elsewhere may claim anything
        const TCollectionNode& node = Collection_->GetNode(id);
        const std::string base = MountName(node.Name.view());
        uint64_t ino = MakeIno(folderIno, base);
        if (Taken(ino)) {
            // The next number to try for this name: a folder of a million twins is named in
            // linear time.
            unsigned& next = twins.try_emplace(base, 2).first->second;
            std::string name;
            do {
                name = TwinName(base, next++, node.Is(nfFile));
                ino = MakeIno(folderIno, name);
            } while (Taken(ino));
            Renamed_.emplace(id, std::move(name));
        }
        Insert(id, ino);
        ++Entries_;
        if (node.Is(nfFile))
            Bytes_ += node.FullSize();
    }
}

std::optional<uint32_t> TCollectionView::NodeOf(uint64_t ino) const
{
    if (ino == Root_)
        return 0;
    if (ino >> 56 != Number_)
        return std::nullopt;
    if (const uint32_t id = Slot(ino))
        return id;
    return std::nullopt;
}

std::optional<uint32_t> TCollectionView::Child(uint32_t folder, std::string_view name) const
{
    const uint32_t id = Slot(MakeIno(InoOf(folder), name));
    if (id == 0 || Collection_->GetNode(id).ParentId != folder || NameOf(id) != name)
        return std::nullopt;
    return id;
}

std::string TCollectionView::NameOf(uint32_t id) const
{
    if (const auto renamed = Renamed_.find(id); renamed != Renamed_.end())
        return renamed->second;
    return MountName(Collection_->GetNode(id).Name.view());
}
