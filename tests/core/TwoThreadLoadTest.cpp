// A large collection file is read in two parts at once, the second on a thread of its own into
// nodes kept apart, joined to the collection at the end. Whatever the text, the result must be
// the one a read on one thread gives: the same nodes under the same ids, the same discs, the
// same place reached and the same answer, damage included.
#include "collection/Fendrel.h"
#include "collection/NodeStore.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr size_t kChunk = TNodeStore::ChunkSize;

// Long enough to live on the heap, so that a node lost, freed twice or left behind in a join
// shows under the sanitizers.
std::string NameOf(size_t id)
{
    return "a name long enough to be kept on the heap, number " + std::to_string(id);
}

void Fill(TCollectionNode& node, size_t id)
{
    node.Id = static_cast<uint32_t>(id);
    node.Name = NameOf(id);
    node.Children = {static_cast<uint32_t>(id), 7};
}

TEST(NodeStoreTail, JoinedNodesKeepTheirIdsWhereverTheChunksMeet)
{
    // (nodes in the store, nodes in the tail): the store's last chunk full, partly filled with
    // room for the whole tail, partly filled with the tail running on over several chunks.
    const std::vector<std::pair<size_t, size_t>> cases{{0, 5},
                                                       {kChunk, 3},
                                                       {kChunk, 2 * kChunk + 1},
                                                       {10, 3},
                                                       {10, kChunk - 10},
                                                       {10, 2 * kChunk + 7},
                                                       {kChunk - 1, 2},
                                                       {3 * kChunk - 2, kChunk},
                                                       {5, 0}};
    for (const auto& [before, after] : cases) {
        TNodeStore store;
        for (size_t id = 1; id <= before; ++id)
            Fill(store.Append(), id);
        TNodeStore::TTail tail(static_cast<uint32_t>(before + 1));
        for (size_t id = before + 1; id <= before + after; ++id)
            Fill(tail.Append(), id);
        EXPECT_EQ(tail.size(), after);
        store.Join(std::move(tail));
        EXPECT_EQ(tail.size(), 0U);
        ASSERT_EQ(store.size(), before + after) << before << " + " << after;
        for (size_t id = 1; id <= before + after; ++id) {
            const TCollectionNode* node = store.Find(static_cast<uint32_t>(id));
            ASSERT_NE(node, nullptr) << id;
            ASSERT_EQ(node->Id, id);
            ASSERT_EQ(node->Name.view(), NameOf(id));
            ASSERT_EQ(node->Children, (TCollectionBranch{static_cast<uint32_t>(id), 7}));
        }
        // The store goes on growing after the join.
        Fill(store.Append(), before + after + 1);
        EXPECT_EQ(store.Find(static_cast<uint32_t>(before + after + 1))->Name.view(),
                  NameOf(before + after + 1));
    }
}

TEST(NodeStoreTail, ATailThatDoesNotFollowTheStoreIsRefusedAndDroppedWhole)
{
    TNodeStore store;
    Fill(store.Append(), 1);
    TNodeStore::TTail tail(5);
    Fill(tail.Append(), 5);
    EXPECT_THROW(store.Join(std::move(tail)), std::logic_error);
    EXPECT_EQ(store.size(), 1U);
    // A tail never joined frees its nodes itself (the sanitizers tell).
    TNodeStore::TTail dropped(kChunk - 1);
    for (int i = 0; i < 5; ++i)
        Fill(dropped.Append(), kChunk - 1 + i);
}

// Reads text on one thread and on two, and expects the same of both.
class TBothWays {
public:
    explicit TBothWays(const std::string& text)
    {
        TFendrel::SetTwoThreadLoadBytes(SIZE_MAX);
        OneRead_ = One_.LoadFromText(text, OneTo_);
        TFendrel::SetTwoThreadLoadBytes(0);
        TwoRead_ = Two_.LoadFromText(text, TwoTo_);
        TFendrel::SetTwoThreadLoadBytes(size_t{16} << 20);
    }

    void ExpectSame(const std::string& label) const
    {
        EXPECT_EQ(OneRead_, TwoRead_) << label;
        EXPECT_EQ(OneTo_, TwoTo_) << label;
        ASSERT_EQ(One_.LastId, Two_.LastId) << label;
        EXPECT_EQ(One_.Nodes.size(), Two_.Nodes.size()) << label;
        EXPECT_EQ(One_.Discs, Two_.Discs) << label;
        EXPECT_EQ(One_.ProgressCount, Two_.ProgressCount) << label;
        for (uint32_t id = 1; id <= One_.LastId; ++id) {
            const TCollectionNode& a = One_.GetNode(id);
            const TCollectionNode& b = Two_.GetNode(id);
            ASSERT_EQ(a.Id, b.Id) << label;
            ASSERT_EQ(a.ParentId, b.ParentId) << label << ", id " << id;
            ASSERT_EQ(a.Name, b.Name) << label << ", id " << id;
            ASSERT_EQ(a.Flags, b.Flags) << label << ", id " << id;
            ASSERT_EQ(a.WriteTimeLow, b.WriteTimeLow) << label;
            ASSERT_EQ(a.WriteTimeHigh, b.WriteTimeHigh) << label;
            ASSERT_EQ(a.Size, b.Size) << label;
            ASSERT_EQ(a.Children, b.Children) << label << ", id " << id;
        }
        EXPECT_EQ(One_.DiscRecords.size(), Two_.DiscRecords.size()) << label;
        EXPECT_EQ(One_.Checksums.size(), Two_.Checksums.size()) << label;
    }
    [[nodiscard]] TFendrel& Two() { return Two_; }
    [[nodiscard]] bool TwoRead() const { return TwoRead_; }

private:
    TFendrel One_;
    TFendrel Two_;
    bool OneRead_ = false;
    bool TwoRead_ = false;
    size_t OneTo_ = 0;
    size_t TwoTo_ = 0;
};

// Discs of folders and files, nested a few levels, some files of 4 GiB or more (so that the
// extension section follows the records), names of every length.
std::string RandomCollectionText(std::mt19937& random, int discs)
{
    TFendrel made;
    const auto number = [&random](uint32_t below) {
        return random() % below;
    };
    for (int d = 0; d < discs; ++d) {
        TCollectionNode disc;
        disc.Flags = nfDisc;
        disc.Name = "disc " + std::to_string(d);
        std::vector<std::pair<uint32_t, int>> open{{made.AddNode(made.Discs, disc).Id, 0}};
        while (!open.empty()) {
            const auto [id, depth] = open.back();
            open.pop_back();
            const uint32_t children = number(depth == 0 ? 12 : 6);
            for (uint32_t c = 0; c < children; ++c) {
                TCollectionNode child;
                const bool folder = depth < 4 && number(4) == 0;
                child.Flags = folder ? nfFolder : nfFile;
                child.Name = std::string(1 + number(40), static_cast<char>('a' + number(26)));
                child.ParentId = id;
                child.WriteTimeHigh = number(0x1000000);
                child.WriteTimeLow = static_cast<uint32_t>(random());
                TCollectionNode& stored = made.AddNode(made.GetNode(id).Children, child);
                if (!folder)
                    stored.SetFullSize(number(50) == 0 ? (uint64_t{5} << 32) + number(9)
                                                       : number(1'000'000));
                if (folder)
                    open.emplace_back(stored.Id, depth + 1);
            }
        }
    }
    return made.SaveToText();
}

TEST(TwoThreadLoad, RandomCollectionsReadAsOnOneThread)
{
    std::mt19937 random(20261210);
    for (int round = 0; round < 60; ++round) {
        const std::string text = RandomCollectionText(random, 1 + round % 9 * 3);
        TBothWays both(text);
        both.ExpectSame("round " + std::to_string(round));
        ASSERT_TRUE(both.TwoRead());
        EXPECT_EQ(both.Two().SaveToText(), text) << "round " << round;
    }
}

// More nodes than a chunk holds on each side of the split, so the join moves a chunk's nodes
// and hands others over whole.
TEST(TwoThreadLoad, ALargeCollectionReadsAsOnOneThread)
{
    std::mt19937 random(7);
    const std::string text = RandomCollectionText(random, 4000);
    ASSERT_GT(text.size(), 2 * kChunk * 40);
    TBothWays both(text);
    both.ExpectSame("large");
    ASSERT_GT(both.Two().LastId, 2 * kChunk);
    EXPECT_EQ(both.Two().SaveToText(), text);
}

// Damage, a zero byte, a cut, a closing line at the top level or a disc's line inside a folder,
// anywhere: before the split, at it, after it. The read on two threads stops, fails and reads on
// where the read on one thread does.
TEST(TwoThreadLoad, DamagedTextsReadAsOnOneThread)
{
    std::mt19937 random(99);
    const std::string text = RandomCollectionText(random, 30);
    const size_t middle = text.size() / 2;
    const size_t split = text.find("\r\nD", middle) + 2;
    ASSERT_NE(split, std::string::npos + 2);

    const std::vector<std::pair<std::string, std::string>> damages{
        {"zero", std::string(1, '\0')},
        {"garbage", "?\r\n"},
        {"closing", "<\r\n"},
        {"two closings", "<\r\n<\r\n"},
        {"disc inside", "D 0 0 0 inner\r\n"},
        {"folder", "F 0 0 0 open\r\n"},
        {"lone CR", "\r"},
        {"blank line", "\r\n"}};
    std::vector<size_t> places{split,  split - 1,  split - 2,      split + 1,
                               middle, middle + 1, text.size() - 1};
    for (size_t at = 30; at < text.size(); at += text.size() / 23)
        places.push_back(at);
    for (const auto& [name, damage] : damages) {
        for (const size_t at : places) {
            std::string damaged = text;
            damaged.insert(at, damage);
            TBothWays(damaged).ExpectSame(name + " inserted at " + std::to_string(at));
            std::string overwritten = text;
            overwritten.replace(at, damage.size(), damage);
            TBothWays(overwritten).ExpectSame(name + " written at " + std::to_string(at));
        }
        TBothWays(text.substr(0, split + 5)).ExpectSame("cut in the second part's first line");
    }
    // The line where the text is split is a disc's inside a folder: the second part cannot be
    // used, and the first reads on.
    std::string nested = text;
    const size_t file = text.find("\r\nE", middle) + 2;
    ASSERT_LT(file, split);
    nested[file] = 'D';
    TBothWays(nested).ExpectSame("disc inside a folder at the split");
}

} // namespace
