#include "collection/CollectionChange.h"
#include "collection/DiscUpdate.h"
#include "collection/Fendrel.h"
#include "collection/PendingChanges.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The record lines of a collection's text, without the extension section after them.
std::string RecordLines(const std::string& text)
{
    const size_t at = text.find("<\r\n;Fendrel extensions v2\r\n");
    return at == std::string::npos ? text : text.substr(0, at);
}


const std::string kHeader = ";Fendrel File v1 begin\r\n";

TCollectionNode& Add(TFendrel& c, uint32_t parent, uint32_t kind, const std::string& name,
                     uint32_t size = 0)
{
    TCollectionNode value;
    value.Name = name;
    value.Flags = kind;
    value.ParentId = parent;
    value.WriteTimeHigh = kind == nfDisc ? 0 : 0x01C5E0A1;
    value.WriteTimeLow = size * 3;
    value.Size = size;
    return c.AddNode(parent ? c.GetNode(parent).Children : c.Discs, value);
}

// A collection read from text, as the file store's newer content is.
void Load(TFendrel& c, const std::string& records)
{
    ASSERT_TRUE(c.LoadFromText(kHeader + records));
}

const std::string kPhotos = "D 00000000 00000000 00000000 Photos\r\n"
                            "F 01C5E0A1 00000000 00000000 Summer\r\n"
                            "E 01C5E0A1 0000001E 0000000A a.jpg\r\n"
                            "<\r\n"
                            "E 01C5E0A1 0000003C 00000014 b.jpg\r\n"
                            "<\r\n";
const std::string kMusic = "D 00000000 00000000 00000000 Music\r\n<\r\n";

TEST(CollectionChange, AppendedDiscsAreCopiedWholeAfterTheNewerDiscs)
{
    TFendrel mine;
    Load(mine, kMusic);
    TFendrel newer;
    Load(newer, kMusic + kMusic);

    const uint32_t photos = Add(mine, 0, nfDisc, "Photos").Id;
    const uint32_t summer = Add(mine, photos, nfFolder, "Summer").Id;
    Add(mine, summer, nfFile, "a.jpg", 10).Flags |= nfFilteredOut;
    Add(mine, photos, nfFile, "b.jpg", 20);
    const uint32_t empty = Add(mine, 0, nfDisc, "").Id;
    const std::string mineBefore = mine.SaveToText();

    TCollectionChange::DiscsAppended({photos, empty}).ApplyTo(mine, newer);
    EXPECT_EQ(RecordLines(newer.SaveToText()),
              kHeader + kMusic + kMusic + kPhotos + "D 00000000 00000000 00000000 \r\n<\r\n");
    EXPECT_EQ(mine.SaveToText(), mineBefore);
    // The copies are nodes of their own collection, linked to their parents there.
    const TCollectionNode& copied = newer.GetNode(newer.Discs.at(2));
    EXPECT_EQ(copied.ParentId, 0u);
    const TCollectionNode& folder = newer.GetNode(copied.Children.at(0));
    EXPECT_EQ(folder.ParentId, copied.Id);
    EXPECT_EQ(newer.GetNode(folder.Children.at(0)).ParentId, folder.Id);
    EXPECT_FALSE(newer.GetNode(folder.Children.at(0)).Is(nfFilteredOut));
    EXPECT_EQ(newer.LastId, 7u);
}

TEST(CollectionChange, RemovedDiscGoesOnlyWhereTitleAndEveryRecordAreTheSame)
{
    TFendrel mine;
    Load(mine, kMusic + kPhotos);
    const uint32_t photos = mine.Discs.at(1);
    const TCollectionChange removed = TCollectionChange::DiscRemoved(mine, photos);
    mine.DeleteDisc(photos);

    // Discs that differ in one thing each: a size, a time, a name, the nesting, one record
    // more or less, the title, the kind of a record.
    const auto changed = [](const std::string& from, const std::string& to) {
        std::string disc = kPhotos;
        return disc.replace(disc.find(from), from.size(), to);
    };
    const std::string differing[] = {
        changed("0000000A a", "0000000B a"),
        changed("0000001E", "0000001F"),
        changed("a.jpg", "A.jpg"),
        changed("a.jpg\r\n<\r\n", "a.jpg\r\n") + "<\r\n", // b.jpg inside Summer
        changed("E 01C5E0A1 0000003C 00000014 b.jpg\r\n", ""),
        changed("b.jpg\r\n", "b.jpg\r\nE 01C5E0A1 0000003C 00000014 c.jpg\r\n"),
        changed("Photos", "photos"),
        changed("E 01C5E0A1 0000001E 0000000A a.jpg\r\n",
                "F 01C5E0A1 0000001E 0000000A a.jpg\r\n<\r\n"),
    };
    for (const std::string& other : differing) {
        TFendrel newer;
        Load(newer, kMusic + other);
        removed.ApplyTo(mine, newer);
        EXPECT_EQ(RecordLines(newer.SaveToText()), kHeader + kMusic + other) << other;
    }

    // The first of two equal discs goes; the other discs stay in their order.
    TFendrel newer;
    Load(newer, differing[0] + kPhotos + kMusic + kPhotos);
    removed.ApplyTo(mine, newer);
    EXPECT_EQ(RecordLines(newer.SaveToText()), kHeader + differing[0] + kMusic + kPhotos);
}

TEST(CollectionChange, RemovedScannedDiscIsComparedAsTheFileGivesItBack)
{
    // A scan may record names the file cannot give back whole: leading blanks are lost, a name
    // is cut at 255 bytes.
    TFendrel mine;
    const uint32_t disc = Add(mine, 0, nfDisc, "  Backup").Id;
    Add(mine, disc, nfFile, " \tnotes.txt", 5);
    Add(mine, disc, nfFile, std::string(300, 'n'), 6);
    TFendrel newer;
    ASSERT_TRUE(newer.LoadFromText(mine.SaveToText()));
    TCollectionChange::DiscRemoved(mine, disc).ApplyTo(mine, newer);
    EXPECT_TRUE(newer.Discs.empty());
}

// Changes that waited for one save are made in their order; a disc added and removed again
// before it is not brought back by its addition.
TEST(PendingChanges, ReplayedInOrderOnTheNewerCollection)
{
    TFendrel mine;
    Load(mine, kMusic + kPhotos);
    TPendingChanges pending;
    const uint32_t added = Add(mine, 0, nfDisc, "Added").Id;
    Add(mine, added, nfFile, "x.txt", 1);
    pending.Add(TCollectionChange::DiscsAppended({added}));
    const uint32_t gone = Add(mine, 0, nfDisc, "Gone").Id;
    Add(mine, gone, nfFile, "y.txt", 2);
    pending.Add(TCollectionChange::DiscsAppended({gone}));
    pending.Add(TCollectionChange::DiscRemoved(mine, gone));
    mine.DeleteDisc(gone);
    pending.Add(TCollectionChange::DiscRemoved(mine, mine.Discs.at(0)));
    mine.DeleteDisc(mine.Discs.at(0));
    EXPECT_EQ(pending.size(), 4u);

    TFendrel newer;
    Load(newer, kMusic + kPhotos + kMusic);
    pending.ApplyTo(mine, newer);
    EXPECT_EQ(RecordLines(newer.SaveToText()), kHeader + kPhotos + kMusic +
                                      "D 00000000 00000000 00000000 Added\r\n"
                                      "E 01C5E0A1 00000003 00000001 x.txt\r\n<\r\n");
    pending.Clear();
    EXPECT_TRUE(pending.empty());
}

// A disc added, then updated, then removed again while all three waited for one save.
TEST(PendingChanges, AnUpdateOfAWaitingDiscAddsItOnceAndItsRemovalTakesIt)
{
    TFendrel mine;
    Load(mine, kMusic);
    const uint32_t added = Add(mine, 0, nfDisc, "Added").Id;
    Add(mine, added, nfFile, "x.txt", 1);
    TPendingChanges pending;
    pending.Add(TCollectionChange::DiscsAppended({added}));
    pending.Add(TCollectionChange::DiscUpdated(mine, added, true));
    TFendrel scan;
    const uint32_t scanned = Add(scan, 0, nfDisc, "Added").Id;
    Add(scan, scanned, nfFile, "y.txt", 2);
    ReplaceDiscTree(mine, added, scan, scanned);

    TFendrel newer;
    Load(newer, kMusic + kMusic);
    pending.ApplyTo(mine, newer);
    ASSERT_EQ(newer.Discs.size(), 3u);
    EXPECT_EQ(newer.GetNode(newer.GetNode(newer.Discs.at(2)).Children.at(0)).Name, "y.txt");

    pending.Add(TCollectionChange::DiscRemoved(mine, added));
    mine.DeleteDisc(added);
    TFendrel again;
    Load(again, kMusic + kMusic);
    pending.ApplyTo(mine, again);
    EXPECT_EQ(again.Discs.size(), 2u);
}

TEST(CollectionChange, UpdatedDiscTreeIsReplacedInTheNewerCollectionWhereverItStands)
{
    TFendrel mine;
    Load(mine, kMusic + kPhotos);
    const uint32_t photos = mine.Discs.at(1);
    mine.DiscRecords[photos].Notes = "mine";
    const TCollectionChange updated = TCollectionChange::DiscUpdated(mine, photos, true);
    TFendrel scan;
    const uint32_t scanned = Add(scan, 0, nfDisc, "Photos").Id;
    Add(scan, scanned, nfFile, "c.jpg", 30);
    ReplaceDiscTree(mine, photos, scan, scanned);
    mine.DiscRecords[photos].Updated = 42;
    mine.DiscRecords[photos].Facts.Source.Path = "/new.iso";
    const std::string kUpdated = "D 00000000 00000000 00000000 Photos\r\n"
                                 "E 01C5E0A1 0000005A 0000001E c.jpg\r\n<\r\n";

    // The other program added a disc before it and wrote its own notes: both stay.
    TFendrel newer;
    Load(newer, kMusic + kMusic + kPhotos);
    newer.DiscRecords[newer.Discs.at(2)].Notes = "theirs";
    updated.ApplyTo(mine, newer);
    EXPECT_EQ(RecordLines(newer.SaveToText()), kHeader + kMusic + kMusic + kUpdated);
    const TDiscRecord& record = newer.DiscRecords.at(newer.Discs.at(2));
    EXPECT_EQ(record.Updated, 42u);
    EXPECT_EQ(record.Facts.Source.Path, "/new.iso");
    EXPECT_EQ(record.Notes, "theirs");

    // Renamed meanwhile: found by its records, the new title kept.
    TFendrel renamed;
    Load(renamed, kPhotos.substr(0, 29) + "Фото" + kPhotos.substr(35) + kMusic);
    updated.ApplyTo(mine, renamed);
    EXPECT_EQ(RecordLines(renamed.SaveToText()),
              kHeader + "D 00000000 00000000 00000000 Фото" + kUpdated.substr(35) + kMusic);

    // Removed or changed by the other program: the new scan is appended rather than lost.
    TFendrel gone;
    Load(gone, kMusic);
    updated.ApplyTo(mine, gone);
    EXPECT_EQ(RecordLines(gone.SaveToText()), kHeader + kMusic + kUpdated);
    EXPECT_EQ(gone.DiscRecords.at(gone.Discs.at(1)).Notes, "mine");

    // Only the record changed: the newer tree stays as it is, the record is set.
    TFendrel same;
    Load(same, kUpdated);
    const uint32_t lastId = same.LastId;
    TCollectionChange::DiscUpdated(mine, photos, false).ApplyTo(mine, same);
    EXPECT_EQ(same.LastId, lastId);
    EXPECT_EQ(same.DiscRecords.at(same.Discs.at(0)).Updated, 42u);
}

} // namespace
