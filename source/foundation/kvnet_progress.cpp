#include "foundation/kvnet_progress.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

namespace kvnet {

namespace {

constexpr std::uint32_t kReportInterval = 2000;  // milliseconds between unchanged reports

int RoundToInt(double value) {
  if (std::isnan(value)) return 0;
  return static_cast<int>(std::nearbyint(std::clamp<double>(value, INT_MIN, INT_MAX)));
}

}  // namespace

// ---- TProgress

std::uint32_t TProgress::TickCount() const {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void TProgress::SetTimelimit(std::uint32_t value) {
  FTimelimit = value;
  FStarttime = TickCount();
}

bool TProgress::EventAssigned() const {
  return static_cast<bool>(OnProgress);
}

bool TProgress::TimeHasPassed() const {
  // Unsigned differences stay right when the tick counter wraps.
  return FTimelimit != 0 && Ftime - FStarttime > FTimelimit;
}

int TProgress::Percentage(double value) const {
  const double span = FProgressStop - FProgressStart;
  const double done = FMaxValue != 0 ? value / FMaxValue : 0.0;
  if (FTimelimit == 0) return RoundToInt(FProgressStart + (std::isnan(done) ? 0.0 : done) * span);
  const double elapsed = static_cast<double>(Ftime - FStarttime) / FTimelimit;
  const double f = std::isnan(done) ? elapsed : std::max(elapsed, done);
  return RoundToInt(f * span + FProgressStart);
}

void TProgress::Throttled(int percentage, const std::function<void(int)>& report) {
  if (percentage != Fprogress_previous || Ftime - Ftime_previous > kReportInterval) {
    Remember(percentage);
    report(percentage);
  }
}

void TProgress::Remember(int percentage) {
  Fprogress_previous = percentage;
  Ftime_previous = Ftime;
}

void TProgress::ProgressExecute(double value) {
  if (!EventAssigned()) {
    if (FTimelimit != 0) Ftime = TickCount();
    return;
  }
  Ftime = TickCount();
  Throttled(Percentage(value), [this](int p) { OnProgress(*this, p); });
}

void TProgress::ProgressExecuteZero() {
  if (!EventAssigned()) return;
  Ftime = TickCount();
  Remember(0);
  OnProgress(*this, 0);
}

// ---- TProgressCancel

bool TProgressCancel::EventAssigned() const {
  return static_cast<bool>(OnProgress);
}

void TProgressCancel::ProgressExecute(double value) {
  value = std::min(value, FMaxValue);
  if (!EventAssigned()) {
    if (FTimelimit != 0) Ftime = TickCount();
    return;
  }
  Ftime = TickCount();
  Throttled(Percentage(value), [this](int p) { OnProgress(*this, p, FCancelled); });
}

void TProgressCancel::ProgressExecuteZero() {
  if (!EventAssigned()) return;
  Ftime = TickCount();
  Remember(0);
  OnProgress(*this, 0, FCancelled);
}

// ---- TProgressCostCancel

bool TProgressCostCancel::EventAssigned() const {
  return static_cast<bool>(OnProgress);
}

void TProgressCostCancel::ProgressExecute(double value, float cost) {
  value = std::min(value, FMaxValue);
  if (!EventAssigned()) {
    if (FTimelimit != 0) Ftime = TickCount();
    return;
  }
  Ftime = TickCount();
  int percentage;
  if (FMaxValue == 0 && FTimelimit == 0) {
    percentage = 0;
  } else if (FMaxValue == 0) {
    percentage = RoundToInt(static_cast<double>(FProgressStop - FProgressStart) *
                                (Ftime - FStarttime) / FTimelimit +
                            FProgressStart);
  } else {
    percentage = Percentage(value);
  }
  Throttled(percentage, [this, cost](int p) { OnProgress(*this, p, cost, FCancelled); });
}

void TProgressCostCancel::ProgressExecuteZero(float cost) {
  if (!EventAssigned()) return;
  Ftime = TickCount();
  Remember(FProgressStart);
  OnProgress(*this, FProgressStart, cost, FCancelled);
}

}  // namespace kvnet
