#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>

#include "graph/SimpleTimer.h"

namespace vornik {
namespace {

// A timer whose duration is fixed, to check what PrintDuration makes of it.
class FixedTimer : public SimpleTimer {
public:
    explicit FixedTimer(double seconds) : seconds_(seconds) {}
    double GetDuration() const override { return seconds_; }

private:
    double seconds_;
};

TEST(SimpleTimerTest, StartReturnsZeroAndDurationStartsNearZero) {
    SimpleTimer timer;
    EXPECT_EQ(timer.Start(), 0);
    const double first = timer.GetDuration();
    EXPECT_GE(first, 0.0);
    EXPECT_LT(first, 1.0);
}

TEST(SimpleTimerTest, SleepingDoesNotCount) {
    SimpleTimer timer;
    timer.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Processor time: a 0.3 s sleep costs next to nothing.
    EXPECT_LT(timer.GetDuration(), 0.15);
}

TEST(SimpleTimerTest, BusyWorkCountsInProcessorSeconds) {
    SimpleTimer timer;
    timer.Start();
    const std::clock_t begin = std::clock();
    volatile double sink = 0.0;
    while (std::clock() - begin < CLOCKS_PER_SEC / 20) sink = sink + 1.0;
    // At least the 0.05 s of processor time the loop burnt.
    EXPECT_GE(timer.GetDuration(), 0.05);
    // Restarting begins a new measurement.
    timer.Start();
    EXPECT_LT(timer.GetDuration(), 0.05);
}

TEST(SimpleTimerTest, PrintDurationWritesTheDefaultFormat) {
    struct Case {
        double seconds;
        const char* printed;
    };
    for (const Case& c :
         {Case{1.5, " System Clock Duration: 1.5\n"}, Case{0.0, " System Clock Duration: 0\n"},
          Case{123456789.0, " System Clock Duration: 1.23457e+08\n"}}) {
        SCOPED_TRACE(c.printed);
        FixedTimer timer(c.seconds);
        testing::internal::CaptureStdout();
        std::ostream& stream = timer.PrintDuration();
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(printed, c.printed);
        EXPECT_EQ(&stream, &std::cout);
    }
}

}  // namespace
}  // namespace vornik
