// The collection file's extension section: disc records, whole sizes and checksums after the
// record lines, where a reader of the record lines alone never looks.
#include "collection/CollectionChange.h"
#include "collection/Fendrel.h"

#include <gtest/gtest.h>

namespace {

const std::string kRecords = ";Fendrel File v1 begin\r\n"
                             "D 00000000 00000000 00000000 Photos\r\n"
                             "F 01C5E0A1 3B2C4D00 00000000 Summer\r\n"
                             "E 01C5E0A1 3B2C4D00 40000000 film.mkv\r\n"
                             "<\r\n"
                             "E 01C5E0A2 00000000 00001000 readme.txt\r\n"
                             "<\r\n"
                             "D 00000000 00000000 00000000 Empty\r\n"
                             "<\r\n";
const std::string kSection = "<\r\n"
                             ";Fendrel extensions v2\r\n"
                             "D 0 source=image path=/home/u/photos%20disc.iso label=PHOTOS "
                             "fs=ISO%209660%20+%20Joliet notes=Box%203%0D%0Ashelf%25%3D%3D "
                             "imagesize=4700000000 created=133400000000000000 "
                             "capacity=4700000000 added=133500000000000000\r\n"
                             "D 1 notes=Пусто\r\n"
                             "R 0.2 size=5368709120 xxh128=0123456789ABCDEFFEDCBA9876543210\r\n"
                             "R 0.3 xxh128=00000000000000010000000000000002\r\n";

// The collection of kRecords + kSection, built as a scan and the user would build it.
void Build(TFendrel& c)
{
    auto add = [&c](TCollectionBranch& list, uint32_t kind, const char* name, uint32_t parent,
                    uint32_t high, uint32_t low, uint64_t size) -> TCollectionNode& {
        TCollectionNode value;
        value.Name = name;
        value.Flags = kind;
        value.ParentId = parent;
        value.WriteTimeHigh = high;
        value.WriteTimeLow = low;
        value.SetFullSize(size);
        return c.AddNode(list, value);
    };
    const uint32_t photos = add(c.Discs, nfDisc, "Photos", 0, 0, 0, 0).Id;
    const uint32_t summer =
        add(c.GetNode(photos).Children, nfFolder, "Summer", photos, 0x01C5E0A1, 0x3B2C4D00, 0).Id;
    const uint32_t film = add(c.GetNode(summer).Children, nfFile, "film.mkv", summer, 0x01C5E0A1,
                              0x3B2C4D00, 5ULL << 30)
                              .Id;
    const uint32_t readme =
        add(c.GetNode(photos).Children, nfFile, "readme.txt", photos, 0x01C5E0A2, 0, 0x1000).Id;
    const uint32_t empty = add(c.Discs, nfDisc, "Empty", 0, 0, 0, 0).Id;
    TDiscRecord& record = c.DiscRecords[photos];
    record.Facts.Source.Kind = TSourceKind::Image;
    record.Facts.Source.Path = "/home/u/photos disc.iso";
    record.Facts.Source.ImageSize = 4'700'000'000;
    record.Facts.Identity.Label = "PHOTOS";
    record.Facts.Identity.FileSystem = "ISO 9660 + Joliet";
    record.Facts.Identity.CreationTime = 133'400'000'000'000'000;
    record.Facts.Capacity = 4'700'000'000;
    record.Added = 133'500'000'000'000'000;
    record.Notes = "Box 3\r\nshelf%==";
    c.DiscRecords[empty].Notes = "Пусто";
    c.Checksums[film] = {0xFEDCBA9876543210, 0x0123456789ABCDEF};
    c.Checksums[readme] = {2, 1};
}

// Everything a record line, a disc record or a checksum holds, node by node in record order.
std::string Dump(const TFendrel& c)
{
    std::string out;
    std::vector<uint32_t> pending(c.Discs.rbegin(), c.Discs.rend());
    while (!pending.empty()) {
        const TCollectionNode& n = c.GetNode(pending.back());
        pending.pop_back();
        out += std::to_string(n.Flags & 0xFF) + " " + n.Name.str() + " " +
               std::to_string(n.WriteTimeHigh) + ":" + std::to_string(n.WriteTimeLow) + " " +
               std::to_string(n.FullSize());
        if (const auto r = c.DiscRecords.find(n.Id); r != c.DiscRecords.end()) {
            const TDiscRecord& d = r->second;
            const TVolumeFacts& f = d.Facts;
            out += " [" + std::to_string(static_cast<int>(f.Source.Kind)) + "|" + f.Source.Path +
                   "|" + f.Source.DriveName + "|" + std::to_string(f.Source.ImageSize) + "|" +
                   std::to_string(f.Source.ImageTime) + "|" + f.Source.MountPoint + "|" +
                   f.Source.FsType + "|" + f.Identity.Label + "|" + f.Identity.FileSystem + "|" +
                   f.Identity.VolumeSetId + "|" + f.Identity.LogicalVolumeId + "|" +
                   std::to_string(f.Identity.CreationTime) + "|" +
                   std::to_string(f.Identity.VolumeBlocks) + "|" + f.Identity.Uuid + "|" +
                   std::to_string(f.Capacity) + "|" + std::to_string(f.FreeSpace) + "|" +
                   std::to_string(d.Added) + "|" + std::to_string(d.Updated) + "|" + d.Notes + "]";
        }
        if (const auto s = c.Checksums.find(n.Id); s != c.Checksums.end())
            out += " #" + std::to_string(s->second.High) + "." + std::to_string(s->second.Low);
        out += "\n";
        pending.insert(pending.end(), n.Children.rbegin(), n.Children.rend());
    }
    return out;
}

TEST(CollectionExtensions, NewDataGoesAfterTheRecordsAndComesBackWhole)
{
    TFendrel built;
    Build(built);
    EXPECT_EQ(built.SaveToText(), kRecords + kSection);
    std::string blocks;
    ASSERT_TRUE(built.SaveInBlocks(
        [&blocks](std::string_view block) {
            blocks += block;
            return true;
        },
        16));
    EXPECT_EQ(blocks, kRecords + kSection);

    TFendrel loaded;
    size_t readTo = 0;
    ASSERT_TRUE(loaded.LoadFromText(kRecords + kSection, readTo));
    EXPECT_EQ(readTo, (kRecords + kSection).size());
    EXPECT_EQ(Dump(loaded), Dump(built));
    EXPECT_NE(Dump(loaded).find("5368709120"), std::string::npos);
    EXPECT_EQ(loaded.SaveToText(), kRecords + kSection);
}

TEST(CollectionExtensions, CollectionWithoutNewDataIsWrittenAsTheRecordsAlone)
{
    TFendrel old;
    ASSERT_TRUE(old.LoadFromText(kRecords));
    old.DiscRecords[old.Discs[0]]; // a record that knows nothing is not written
    EXPECT_EQ(old.SaveToText(), kRecords);

    // 4 GiB less one byte still fits the record line.
    old.GetNode(3).SetFullSize(0xFFFFFFFF);
    EXPECT_EQ(old.SaveToText().find(";Fendrel extensions"), std::string::npos);
    old.GetNode(3).SetFullSize(1ULL << 32);
    EXPECT_NE(old.SaveToText().find("R 0.2 size=4294967296\r\n"), std::string::npos);
}

TEST(CollectionExtensions, ReaderOfTheRecordsAloneLoadsTheSameRecordsAndIgnoresTheRest)
{
    TFendrel plain;
    plain.ReadsExtensionSection = false;
    size_t readTo = 0;
    ASSERT_TRUE(plain.LoadFromText(kRecords + kSection, readTo));
    EXPECT_EQ(readTo, kRecords.size() + 3) << "stops after the top-level closing line";
    TFendrel old;
    ASSERT_TRUE(old.LoadFromText(kRecords));
    EXPECT_EQ(Dump(plain), Dump(old));
    EXPECT_EQ(plain.GetNode(3).FullSize(), 1U << 30) << "the low 32 bits";
    EXPECT_TRUE(plain.DiscRecords.empty());
    EXPECT_TRUE(plain.Checksums.empty());
}

TEST(CollectionExtensions, OnlyTheMarkerRightAfterAClosingLineAloneOpensTheSection)
{
    for (const std::string& tail :
         {std::string("<\r\n;Fendrel extensions v3\r\nD 0 notes=x\r\n"),
          std::string("<\r\n;fendrel extensions v2\r\nD 0 notes=x\r\n"),
          std::string("<x\r\n;Fendrel extensions v2\r\nD 0 notes=x\r\n"),
          std::string("<\r\n\r\n;Fendrel extensions v2\r\nD 0 notes=x\r\n"),
          std::string("<\r\nD 00000000 00000000 00000000 After\r\n")}) {
        TFendrel c;
        size_t readTo = 0;
        // As before: the load succeeds, stops short, and the caller treats the file as damaged.
        EXPECT_TRUE(c.LoadFromText(kRecords + tail, readTo)) << tail;
        EXPECT_EQ(readTo, kRecords.size() + tail.find('\n') + 1) << tail;
        EXPECT_TRUE(c.DiscRecords.empty()) << tail;
        EXPECT_EQ(c.LastId, 5u);
    }
}

TEST(CollectionExtensions, UnknownTagsAndFieldsAreSkipped)
{
    const std::string text = kRecords +
                             "<\r\n;Fendrel extensions v2\r\n"
                             "A 0 something=1\r\n"
                             "X\r\n"
                             "D 1 colour=red notes=Пусто future=%ZZ\r\n"
                             "R 0.3 xxh128=00000000000000010000000000000002 archive=zip\r\n";
    TFendrel c;
    size_t readTo = 0;
    ASSERT_TRUE(c.LoadFromText(text, readTo));
    EXPECT_EQ(readTo, text.size());
    EXPECT_EQ(c.DiscRecords.at(5).Notes, "Пусто");
    EXPECT_EQ(c.Checksums.at(4), (TContentChecksum{2, 1}));
    EXPECT_EQ(c.SaveToText(), kRecords + "<\r\n;Fendrel extensions v2\r\nD 1 notes=Пусто\r\n"
                                         "R 0.3 xxh128=00000000000000010000000000000002\r\n");
}

TEST(CollectionExtensions, DamagedSectionKeepsEveryRecordAndWhatCameBeforeTheFault)
{
    const std::string good = "D 1 notes=kept\r\n";
    for (const std::string& bad : {
             std::string("D 2 notes=x\r\n"),                // no third disc
             std::string("D x notes=x\r\n"),                // no position
             std::string("D 0 notes\r\n"),                  // a field without "="
             std::string("D 0 notes=%4\r\n"),               // a cut escape
             std::string("D 0 added=12a\r\n"),              // a number that is not one
             std::string("D 0 source=tape\r\n"),            // an unknown source
             std::string("R 0.4 size=5368709120\r\n"),      // past the disc's records
             std::string("R 0 size=5368709120\r\n"),        // no record number
             std::string("R 0.2 size=5368709121\r\n"),      // low half differs from the line
             std::string("R 0.1 size=4294967296\r\n"),      // a folder has no size
             std::string("R 0.2 size=281474976710656\r\n"), // past the largest size
             std::string("R 0.3 xxh128=0123\r\n"),          // a short checksum
             std::string("R 0.3 xxh128=0123456789ABCDEFFEDCBA987654321G\r\n"),
         }) {
        const std::string text = kRecords + "<\r\n;Fendrel extensions v2\r\n" + good + bad +
                                 "R 0.3 xxh128=00000000000000010000000000000002\r\n";
        TFendrel c;
        size_t readTo = 0;
        EXPECT_FALSE(c.LoadFromText(text, readTo)) << bad;
        EXPECT_EQ(readTo, text.find(bad)) << bad;
        EXPECT_EQ(c.LastId, 5u) << bad;
        EXPECT_EQ(c.GetNode(3).FullSize(), 1U << 30) << bad;
        EXPECT_EQ(c.DiscRecords.at(5).Notes, "kept") << bad;
        EXPECT_TRUE(c.Checksums.empty()) << bad;
    }
    const std::string cut = kRecords + "<\r\n;Fendrel extensions v2\r\n" + good + "D 0 notes=x";
    TFendrel c;
    size_t readTo = 0;
    EXPECT_FALSE(c.LoadFromText(cut, readTo)) << "the last line lacks its CR LF";
    EXPECT_EQ(readTo, cut.size() - 11);
    EXPECT_EQ(c.DiscRecords.at(5).Notes, "kept");
}

TEST(CollectionExtensions, RemovedDiscTakesItsDataAndTheOthersMoveUp)
{
    TFendrel c;
    Build(c);
    c.DeleteDisc(c.Discs[0]);
    EXPECT_TRUE(c.Checksums.empty());
    EXPECT_EQ(c.SaveToText(),
              ";Fendrel File v1 begin\r\nD 00000000 00000000 00000000 Empty\r\n<\r\n"
              "<\r\n;Fendrel extensions v2\r\nD 0 notes=Пусто\r\n");
}

TEST(CollectionExtensions, MergeKeepsTheAppendedDiscsDataAndRemovalDropsIt)
{
    TFendrel mine;
    Build(mine);
    TFendrel theirs; // another program's save, with a disc of its own
    ASSERT_TRUE(
        theirs.LoadFromText(";Fendrel File v1 begin\r\nD 00000000 00000000 00000000 "
                            "Theirs\r\n<\r\n<\r\n;Fendrel extensions v2\r\nD 0 notes=их\r\n"));
    TCollectionChange::DiscsAppended(mine.Discs).ApplyTo(mine, theirs);
    TFendrel expected;
    ASSERT_TRUE(expected.LoadFromText(theirs.SaveToText()));
    EXPECT_EQ(Dump(expected), "4 Theirs 0:0 0 [0|||0|0|||||||0|0||0|0|0|0|их]\n" + Dump(mine));

    TCollectionChange::DiscRemoved(mine, mine.Discs[0]).ApplyTo(mine, theirs);
    EXPECT_EQ(theirs.SaveToText(), ";Fendrel File v1 begin\r\n"
                                   "D 00000000 00000000 00000000 Theirs\r\n<\r\n"
                                   "D 00000000 00000000 00000000 Empty\r\n<\r\n"
                                   "<\r\n;Fendrel extensions v2\r\nD 0 notes=их\r\n"
                                   "D 1 notes=Пусто\r\n");
}

} // namespace
