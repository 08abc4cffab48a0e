#include "foundation/kvnet_progress.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace kvnet {
namespace {

// A progress object of the given kind whose millisecond clock the test sets.
template <class Base>
class TManualClock : public Base {
 public:
  std::uint32_t now = 1000;

 protected:
  std::uint32_t TickCount() const override { return now; }
};

TEST(Progress, ReportsOnlyChangesOrEveryTwoSeconds) {
  TManualClock<TProgress> p;
  std::vector<int> reports;
  p.OnProgress = [&](TProgress&, int percent) { reports.push_back(percent); };
  for (const double v : {0.0, 0.1, 0.2, 0.3, 0.4})
    p.ProgressExecute(v);
  EXPECT_EQ(reports, (std::vector<int>{0}));
  p.now += 2000;  // exactly 2000 ms: not yet
  p.ProgressExecute(0.4);
  EXPECT_EQ(reports.size(), 1u);
  p.now += 1;
  p.ProgressExecute(0.4);
  EXPECT_EQ(reports, (std::vector<int>{0, 0}));
  p.ProgressExecute(1.0);
  p.ProgressExecute(1.2);
  EXPECT_EQ(reports, (std::vector<int>{0, 0, 1}));
  p.ProgressExecuteZero();  // always reported
  EXPECT_EQ(reports.back(), 0);
  EXPECT_EQ(reports.size(), 4u);
}

TEST(Progress, PercentagesRoundHalfToEvenWithinTheRange) {
  TManualClock<TProgress> p;
  std::vector<int> reports;
  p.OnProgress = [&](TProgress&, int percent) { reports.push_back(percent); };
  p.SetProgressMaxValue(1000);
  p.SetProgressStart(20);
  p.SetProgressStop(40);
  for (const double v : {25.0, 75.0, 125.0, 500.0, 1000.0})
    p.ProgressExecute(v);
  // 20 + v * 20 / 1000: 20.5 -> 20, 21.5 -> 22, 22.5 -> 22, 30, 40
  EXPECT_EQ(reports, (std::vector<int>{20, 22, 30, 40}));
}

TEST(Progress, ZeroMaximumAndNaNDoNotDivideOrOverflow) {
  TManualClock<TProgress> p;
  std::vector<int> reports;
  p.OnProgress = [&](TProgress&, int percent) { reports.push_back(percent); };
  p.SetProgressMaxValue(0);
  p.SetProgressStart(10);
  p.ProgressExecute(5);
  p.SetProgressMaxValue(100);
  p.ProgressExecute(std::numeric_limits<double>::quiet_NaN());
  p.ProgressExecute(1e300);
  EXPECT_EQ(reports, (std::vector<int>{10, std::numeric_limits<int>::max()}));
}

TEST(Progress, TimeLimitDrivesThePercentageAndSurvivesTickWrap) {
  TManualClock<TProgress> p;
  std::vector<int> reports;
  p.OnProgress = [&](TProgress&, int percent) { reports.push_back(percent); };
  p.now = 0xFFFFFFFFu - 499;  // the tick counter wraps during the run
  p.SetTimelimit(1000);
  p.now += 250;
  p.ProgressExecute(10);  // max(0.25, 0.10)
  EXPECT_FALSE(p.TimeHasPassed());
  p.now += 500;           // wrapped past zero: 750 ms elapsed
  p.ProgressExecute(90);  // max(0.75, 0.90)
  EXPECT_FALSE(p.TimeHasPassed());
  p.now += 251;
  p.ProgressExecute(0);
  EXPECT_TRUE(p.TimeHasPassed());
  EXPECT_EQ(reports, (std::vector<int>{25, 90, 100}));
}

TEST(Progress, WithoutAHandlerOnlyTheClockOfATimeLimitMoves) {
  TManualClock<TProgress> p;
  p.ProgressExecute(50);
  EXPECT_EQ(p.Time(), 0u);
  p.SetTimelimit(10);
  p.now += 11;
  p.ProgressExecute(50);
  EXPECT_EQ(p.Time(), p.now);
  EXPECT_TRUE(p.TimeHasPassed());
}

TEST(ProgressCancel, HandlerCancelsAndValuesAreCappedAtTheMaximum) {
  TManualClock<TProgressCancel> p;
  std::vector<int> reports;
  p.OnProgress = [&](TProgress&, int percent, bool& cancel) {
    reports.push_back(percent);
    cancel = percent >= 50;
  };
  EXPECT_TRUE(p.EventAssigned());
  p.ProgressExecute(10);
  EXPECT_FALSE(p.Cancelled());
  p.ProgressExecute(150);
  EXPECT_TRUE(p.Cancelled());
  EXPECT_EQ(reports, (std::vector<int>{10, 100}));
  p.ResetCancelled();
  EXPECT_FALSE(p.Cancelled());
}

TEST(ProgressCostCancel, PassesTheCostAndHandlesAZeroMaximum) {
  TManualClock<TProgressCostCancel> p;
  std::vector<std::pair<int, float>> reports;
  p.OnProgress = [&](TProgress&, int percent, float cost, bool&) {
    reports.emplace_back(percent, cost);
  };
  p.SetProgressStart(5);
  p.ProgressExecuteZero(1.5f);  // reports ProgressStart
  p.SetProgressMaxValue(0);
  p.ProgressExecute(3, 2.5f);  // no time limit: 0
  p.SetTimelimit(1000);
  p.now += 500;
  p.ProgressExecute(3, 3.5f);  // 95 * 0.5 + 5
  p.SetProgressMaxValue(100);
  p.ProgressExecute(80, 4.5f);
  using TReport = std::pair<int, float>;
  EXPECT_EQ(reports, (std::vector<TReport>{{5, 1.5f}, {0, 2.5f}, {52, 3.5f}, {81, 4.5f}}));
}

}  // namespace
}  // namespace kvnet
