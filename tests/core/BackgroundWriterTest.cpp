#include "platform/BackgroundWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

namespace {

// Blocks of every size, put faster and slower than they are written, arrive whole and in order,
// through a ring of two buffers that is reused many times over.
TEST(BackgroundWriter, BlocksArriveWholeAndInOrder)
{
    std::mt19937 random(77);
    std::string expected;
    std::string written;
    int calls = 0;
    {
        TBackgroundWriter writer(
            [&](std::string_view block) {
                if (++calls % 7 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                written.append(block);
                return true;
            },
            2);
        for (int block = 0; block < 300; ++block) {
            std::string text(random() % 3000, static_cast<char>('a' + block % 26));
            if (block % 50 == 0)
                text.clear();
            expected += text;
            ASSERT_TRUE(writer.Put(text));
            text.assign(text.size(), '#'); // the caller's block is reused at once
        }
        EXPECT_TRUE(writer.Finish());
        EXPECT_EQ(written, expected) << "all written once Finish returns";
    }
    EXPECT_EQ(calls, 300);
}

// A failed write stops the writing: no later block reaches the file, Put says so, and Finish
// reports the failure. A writer dropped without Finish still writes what it was given first.
TEST(BackgroundWriter, FailureStopsTheWritingAndIsReported)
{
    std::string written;
    TBackgroundWriter writer([&](std::string_view block) {
        if (block == "bad")
            return false;
        written.append(block);
        return true;
    });
    EXPECT_TRUE(writer.Put("one,"));
    EXPECT_TRUE(writer.Put("bad"));
    bool refused = false;
    for (int block = 0; block < 1000 && !refused; ++block)
        refused = !writer.Put("late,");
    EXPECT_TRUE(refused) << "Put learns of the failure";
    EXPECT_FALSE(writer.Finish());
    EXPECT_EQ(written, "one,");

    std::string kept;
    {
        TBackgroundWriter dropped([&](std::string_view block) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            kept.append(block);
            return true;
        });
        for (int block = 0; block < 4; ++block)
            ASSERT_TRUE(dropped.Put(std::to_string(block)));
    }
    EXPECT_EQ(kept, "0123");
}

} // namespace
