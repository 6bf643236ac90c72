#include "search/Copies.h"

#include "collection/Fendrel.h"
#include "platform/AnsiText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kTime = 127'000'000'000'000'000ULL; // a FILETIME in 2003

// Collections made by name (UTF-8), searched for copies through a snapshot.
class Copies : public ::testing::Test {
protected:
    uint32_t Add(uint32_t parent, uint32_t kind, const std::string& name, uint64_t size,
                 uint64_t time = kTime)
    {
        TCollectionNode value;
        value.Name = Ansi(name);
        value.Flags = kind;
        value.ParentId = parent;
        value.SetFullSize(size);
        value.WriteTimeHigh = static_cast<uint32_t>(time >> 32);
        value.WriteTimeLow = static_cast<uint32_t>(time);
        return C.AddNode(parent ? C.GetNode(parent).Children : C.Discs, value).Id;
    }
    uint32_t Disc(const std::string& name) { return Add(0, nfDisc, name, 0); }
    uint32_t Folder(uint32_t parent, const std::string& name)
    {
        return Add(parent, nfFolder, name, 0);
    }
    uint32_t File(uint32_t parent, const std::string& name, uint64_t size, uint64_t time = kTime)
    {
        return Add(parent, nfFile, name, size, time);
    }
    void Sum(uint32_t file, uint64_t value) { C.Checksums[file] = {value, ~value}; }

    static TFindQuery Query(TFindConditions conditions = {})
    {
        std::string error;
        std::optional<TFindQuery> query = TFindQuery::Make(conditions, error);
        EXPECT_TRUE(query) << error;
        return std::move(*query);
    }

    // Each hit as (group, "Disc\path"), in the order found.
    std::vector<std::pair<uint32_t, std::string>> Shown(const TFindSnapshot& snapshot,
                                                        const TCopiesFound& found) const
    {
        EXPECT_EQ(found.Entries.size(), found.Groups.size());
        std::vector<std::pair<uint32_t, std::string>> rows;
        for (size_t i = 0; i < found.Entries.size(); ++i) {
            const uint32_t entry = found.Entries[i];
            rows.emplace_back(found.Groups[i],
                              AnsiToUtf8(std::string(snapshot.Name(snapshot.DiscOf(entry))) +
                                         snapshot.Path(entry)));
        }
        return rows;
    }
    std::vector<std::pair<uint32_t, std::string>> Duplicates(TFindConditions conditions = {})
    {
        const TFindSnapshot snapshot(C);
        TFindQuery query = Query(std::move(conditions));
        TCopiesFound found;
        EXPECT_TRUE(FindDuplicates(snapshot, C.Checksums, query, found));
        return Shown(snapshot, found);
    }
    std::vector<std::string> Unique(std::optional<uint32_t> discId, TFindConditions conditions = {})
    {
        const TFindSnapshot snapshot(C);
        std::optional<uint32_t> disc;
        for (uint32_t i = 0; i < snapshot.size(); ++i)
            if (discId && snapshot.Entry(i).Id == *discId)
                disc = i;
        TFindQuery query = Query(std::move(conditions));
        TCopiesFound found;
        EXPECT_TRUE(FindUnique(snapshot, C.Checksums, query, disc, found));
        std::vector<std::string> paths;
        for (const auto& [group, path] : Shown(snapshot, found)) {
            EXPECT_EQ(group, 0u);
            paths.push_back(path);
        }
        return paths;
    }

    TFendrel C;
};

TEST_F(Copies, WithoutChecksumsSameNameInAnyCaseAndSameSizeAreCopies)
{
    const uint32_t a = Disc("A");
    const uint32_t b = Disc("B");
    const uint32_t photos = Folder(a, "Фото");
    File(photos, "Ёлка.JPG", 2 * kMiB);
    File(a, "film.avi", 5 * kMiB);
    File(b, "ёлка.jpg", 2 * kMiB);
    File(b, "ЁЛКА.jpg", 2 * kMiB + 1); // another size: another file
    File(b, "Film.AVI", 5 * kMiB);
    File(b, "other.avi", 5 * kMiB);                // same size, another name
    File(a, "ёлка.jpg", 2 * kMiB);                 // a copy on the same disc counts as well
    const uint32_t folder = Folder(b, "film.avi"); // folders are never copies
    File(folder, "x", 1);

    EXPECT_THAT(Duplicates(), ElementsAre(Pair(1, "A\\Фото\\Ёлка.JPG"), Pair(1, "A\\ёлка.jpg"),
                                          Pair(1, "B\\ёлка.jpg"), Pair(2, "A\\film.avi"),
                                          Pair(2, "B\\Film.AVI")));
    // Only what lives on one disc is unique: the copy of Ёлка on A itself does not save it.
    EXPECT_THAT(Unique(b), ElementsAre("B\\ЁЛКА.jpg", "B\\other.avi", "B\\film.avi\\x"));
    EXPECT_THAT(Unique(a), IsEmpty());
    EXPECT_THAT(Unique(std::nullopt), ElementsAre("B\\ЁЛКА.jpg", "B\\other.avi", "B\\film.avi\\x"));
}

TEST_F(Copies, ChecksumsDecideWhereBothFilesHaveOne)
{
    const uint32_t a = Disc("A");
    const uint32_t b = Disc("B");
    const uint32_t c = Disc("C");
    // The same content under other names: copies by checksum.
    Sum(File(a, "IMG_0001.jpg", 3 * kMiB), 1);
    Sum(File(b, "holiday.jpg", 3 * kMiB), 1);
    // The same name and size but different contents: not copies.
    Sum(File(a, "data.bin", 4 * kMiB), 2);
    Sum(File(b, "data.bin", 4 * kMiB), 3);
    // A file without a checksum may be a copy of either.
    Sum(File(a, "disk.img", 6 * kMiB), 4);
    File(c, "DISK.IMG", 6 * kMiB);
    Sum(File(b, "disk.img", 6 * kMiB), 5);

    EXPECT_THAT(Duplicates(), ElementsAre(Pair(1, "A\\IMG_0001.jpg"), Pair(1, "B\\holiday.jpg"),
                                          Pair(2, "A\\disk.img"), Pair(2, "B\\disk.img"),
                                          Pair(2, "C\\DISK.IMG")));
    EXPECT_THAT(Unique(a), ElementsAre("A\\data.bin"));
    EXPECT_THAT(Unique(b), ElementsAre("B\\data.bin"));
    EXPECT_THAT(Unique(c), IsEmpty());
}

TEST_F(Copies, BoundsChooseTheFilesButCopiesAreLookedForEverywhere)
{
    const uint32_t a = Disc("A");
    const uint32_t b = Disc("B");
    File(a, "small.txt", 1000);
    File(b, "small.txt", 1000);
    File(a, "new.doc", 2 * kMiB, kTime + 1000);
    File(b, "new.doc", 2 * kMiB, kTime);
    File(a, "huge.iso", uint64_t{5} << 30); // past 4 GiB: the whole size counts
    File(b, "huge.iso", uint64_t{1} << 30);

    TFindConditions bounds;
    bounds.SizeMin = kDuplicatesDefaultSizeMin;
    EXPECT_THAT(Duplicates(bounds), ElementsAre(Pair(1, "A\\new.doc"), Pair(1, "B\\new.doc")));
    bounds.SizeMin.reset();
    EXPECT_EQ(Duplicates(bounds).size(), 4u);

    bounds.TimeMin = kTime + 1;
    EXPECT_THAT(Duplicates(bounds), IsEmpty()) << "one of the two is older";
    // A unique search reports the disc's newer files, and finds their older copy all the same.
    EXPECT_THAT(Unique(a, bounds), IsEmpty());
    bounds = {};
    bounds.Pattern = "iso";
    EXPECT_THAT(Unique(a, bounds), ElementsAre("A\\huge.iso"));
    EXPECT_THAT(Unique(std::nullopt, bounds), ElementsAre("A\\huge.iso", "B\\huge.iso"));
}

TEST_F(Copies, AnEmptyCollectionAndAStoppedSearch)
{
    EXPECT_THAT(Duplicates(), IsEmpty());
    EXPECT_THAT(Unique(std::nullopt), IsEmpty());

    const uint32_t a = Disc("A");
    const uint32_t b = Disc("B");
    for (int i = 0; i < 40000; ++i) {
        const std::string name = std::to_string(i) + ".dat";
        File(a, name, static_cast<uint64_t>(i));
        File(b, name, static_cast<uint64_t>(i));
    }
    const TFindSnapshot snapshot(C);
    TFindQuery query = Query();
    TCopiesFound found;
    EXPECT_FALSE(FindDuplicates(snapshot, C.Checksums, query, found, [] { return false; }));
    EXPECT_FALSE(
        FindUnique(snapshot, C.Checksums, query, std::nullopt, found, [] { return false; }));
    EXPECT_TRUE(FindDuplicates(snapshot, C.Checksums, query, found));
    EXPECT_EQ(found.Entries.size(), 80000u);
    EXPECT_EQ(found.Groups.back(), 40000u);
}

} // namespace
