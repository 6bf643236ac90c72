#include "collection/NodeName.h"

#include <gtest/gtest.h>
#include <utility>

namespace {

TEST(NodeName, KeepsEveryLengthAndByteAcrossTheInlineLimit)
{
    for (size_t length :
         {size_t{0}, size_t{1}, size_t{29}, size_t{30}, size_t{31}, size_t{255}, size_t{4000}}) {
        std::string text(length, 'x');
        if (length > 2)
            text[1] = '\0'; // embedded zero bytes and high bytes are kept
        if (length > 3)
            text[2] = '\xFF';
        TNodeName name(text);
        EXPECT_EQ(name.size(), length);
        EXPECT_EQ(name.str(), text);
        EXPECT_EQ(name.data()[length], '\0');

        TNodeName copy = name;
        TNodeName moved = std::move(name);
        EXPECT_EQ(copy, moved);
        EXPECT_TRUE(name.empty()); // NOLINT: a moved-from name is empty
        copy = copy;               // NOLINT: self-assignment keeps the text
        EXPECT_EQ(copy.str(), text);
    }
}

TEST(NodeName, AssignsFromItsOwnTextAndFromStrings)
{
    TNodeName name(std::string(40, 'a'));
    name = name.view().substr(5); // points into the name itself
    EXPECT_EQ(name.str(), std::string(35, 'a'));
    name = "short";
    EXPECT_EQ(name, "short");
    name = std::string(50, 'b');
    EXPECT_EQ(name.size(), 50u);
    EXPECT_EQ(std::string("x") + std::string(TNodeName("y")), "xy");
}

TEST(NodeName, EveryLengthUpToBeyondTheInlineLimitIsCopiedWholeOnAssignment)
{
    TNodeName name(std::string(60, 'z'));
    for (size_t length = 0; length <= 40; ++length) {
        std::string text;
        for (size_t i = 0; i < length; ++i)
            text += static_cast<char>(1 + i * 7);
        name = text; // over a longer or a shorter name
        ASSERT_EQ(name.str(), text) << length;
        ASSERT_EQ(name.data()[length], '\0') << length;
        name = name.view().substr(length / 2); // a short name assigned from itself
        ASSERT_EQ(name.str(), text.substr(length / 2)) << length;
    }
}

} // namespace
