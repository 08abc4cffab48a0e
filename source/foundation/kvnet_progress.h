// Progress reporting and cancellation for long operations.
//
// An owner sets ProgressMaxValue, ProgressStart and ProgressStop for each phase and calls
// ProgressExecute with its running value. The event receives a whole percentage, only when it
// differs from the last one reported or when more than 2000 ms have passed since then. With a
// time limit the percentage also follows the elapsed time. Events run on the thread that runs the
// operation; TProgressCancel's handler may set the cancel flag, which the owner polls.
#pragma once

#include <cstdint>
#include <functional>

namespace kvnet {

class TProgress;

using TProgressEvent = std::function<void(TProgress& sender, int progress)>;
using TProgressCancelEvent = std::function<void(TProgress& sender, int progress, bool& cancel)>;
using TProgressCostCancelEvent =
    std::function<void(TProgress& sender, int progress, float cost, bool& cancel)>;

class TProgress {
 public:
  TProgress() = default;
  virtual ~TProgress() = default;

  TProgressEvent OnProgress;

  double ProgressMaxValue() const { return FMaxValue; }
  void SetProgressMaxValue(double value) { FMaxValue = value; }
  int ProgressStart() const { return FProgressStart; }
  void SetProgressStart(int value) { FProgressStart = value; }
  int ProgressStop() const { return FProgressStop; }
  void SetProgressStop(int value) { FProgressStop = value; }
  // Millisecond tick count of the last report (wraps after 49.7 days).
  std::uint32_t Time() const { return Ftime; }
  std::uint32_t Timelimit() const { return FTimelimit; }
  // Sets the time limit in milliseconds (0 = none) and starts its clock now.
  void SetTimelimit(std::uint32_t value);

  virtual bool EventAssigned() const;
  virtual void ProgressExecute(double value);
  virtual void ProgressExecuteZero();
  // True when a time limit is set and it has run out at the last report.
  bool TimeHasPassed() const;

 protected:
  // The millisecond tick counter; tests replace it.
  virtual std::uint32_t TickCount() const;
  // The percentage for value; MaxValue 0 counts as no progress and NaN as the start.
  int Percentage(double value) const;
  // Calls report with the percentage when it changed or 2000 ms passed since the last call.
  void Throttled(int percentage, const std::function<void(int)>& report);
  void Remember(int percentage);

  std::uint32_t FStarttime = 0;
  std::uint32_t Ftime = 0;
  double FMaxValue = 100.0;
  std::uint32_t FTimelimit = 0;
  int FProgressStart = 0;
  int FProgressStop = 100;
  int Fprogress_previous = -1;
  std::uint32_t Ftime_previous = 0;
};

class TProgressCancel : public TProgress {
 public:
  TProgressCancelEvent OnProgress;  // replaces the base class's event

  bool Cancelled() const { return FCancelled; }
  // Lets an owner start a new run after a cancelled one.
  void ResetCancelled() { FCancelled = false; }

  bool EventAssigned() const override;
  void ProgressExecute(double value) override;
  void ProgressExecuteZero() override;

 protected:
  bool FCancelled = false;
};

class TProgressCostCancel : public TProgressCancel {
 public:
  TProgressCostCancelEvent OnProgress;  // replaces the base classes' events

  bool EventAssigned() const override;
  void ProgressExecute(double value) override { ProgressExecute(value, 0.0f); }
  void ProgressExecute(double value, float cost);
  void ProgressExecuteZero() override { ProgressExecuteZero(0.0f); }
  void ProgressExecuteZero(float cost);
};

}  // namespace kvnet
