#include "collection/ProgressLine.h"
#include "collection/Fendrel.h"
#include "platform/AnsiText.h"
#include "support/SteppedClock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

struct TProgressFixture : ::testing::Test {
    TSteppedClock Clock;
    std::vector<std::string> Shown;
    TProgressLine Line{Clock, [this](const std::string& text) {
                           Shown.push_back(text);
                       }};
    TFendrel Collection{&Line};
};

TEST_F(TProgressFixture, ShowsAtMostEvery200Milliseconds)
{
    Collection.BeginProgress("n=%d");
    Collection.ProgressCount = 5;
    Clock.Step(199);
    Collection.StepProgress();
    Clock.Step(1);
    Collection.StepProgress();
    EXPECT_THAT(Shown, ElementsAre("n=0", "n=5"));
}

TEST_F(TProgressFixture, BeginWithin200MsOfADisplayWaitsForALaterStep)
{
    Collection.BeginProgress("first %d");
    Clock.Step(50);
    Collection.BeginProgress("second %d");
    Collection.ProgressCount = 3;
    Clock.Step(100);
    Collection.StepProgress();
    Clock.Step(50);
    Collection.StepProgress();
    EXPECT_THAT(Shown, ElementsAre("first 0", "second 3"));
}

TEST_F(TProgressFixture, TickCounterWrapAroundIsHarmless)
{
    Clock.Now = 0xFFFFFF00u;
    Collection.BeginProgress("%d");
    Clock.Now = 0x00000010u; // 0x110 ms later, past the wrap
    Collection.ProgressCount = 1;
    Collection.StepProgress();
    EXPECT_THAT(Shown, ElementsAre("0", "1"));
}

TEST_F(TProgressFixture, EndShowsReadyWithoutTouchingTheThrottle)
{
    Collection.BeginProgress("%d");
    Collection.EndProgress();
    Collection.ProgressCount = 9;
    Collection.StepProgress();
    ASSERT_EQ(Shown.size(), 2u);
    EXPECT_EQ(AnsiToUtf8(Shown[1]), " Готово");
    EXPECT_EQ(Collection.ProgressCount, 9);
}

TEST_F(TProgressFixture, LastDisplayTimeOutlivesTheCollection)
{
    Collection.BeginProgress("%d");
    TFendrel next(&Line);
    Clock.Step(100);
    next.BeginProgress("%d");
    EXPECT_EQ(Shown.size(), 1u);
    TFendrel silent;
    silent.BeginProgress("%d");
    silent.EndProgress();
    EXPECT_EQ(Shown.size(), 1u);
}

// A clock that moves 100 ms each time it is read.
class TBusyClock final : public ITickClock {
public:
    [[nodiscard]] uint32_t GetTickCount() override { return Now += 100; }
    uint32_t Now = 100000;
};

TEST(ProgressOfAWalk, ShowsItsCountAsItGoesAndAtMostEvery200Ms)
{
    TBusyClock clock;
    std::vector<uint32_t> times;
    std::vector<std::string> shown;
    TProgressLine line(clock, [&](const std::string& text) {
        times.push_back(clock.Now);
        shown.push_back(text);
    });
    std::string text = ";Fendrel File v1 begin\r\nD 0 0 0 disc\r\n";
    for (int i = 0; i < 3000; ++i)
        text += "E 0 0 0 f\r\n";
    TFendrel c(&line);
    ASSERT_TRUE(c.LoadFromText(text));
    ASSERT_GE(shown.size(), 4u) << "the count shows while the load runs";
    EXPECT_EQ(AnsiToUtf8(shown.front()), " Загрузка коллекции: загружено 0 элементов");
    EXPECT_NE(shown[1], shown[2]);
    EXPECT_EQ(AnsiToUtf8(shown.back()), " Готово");
    for (size_t i = 1; i + 1 < times.size(); ++i)
        EXPECT_GE(times[i] - times[i - 1], 200u);
}

} // namespace
