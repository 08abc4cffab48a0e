// TCalc: creation, criterion and slot tables, search settings, the cost model and the checks of a
// link against the vehicle, the skip list and the no-drive-through areas. The searches are in
// kvnet_calc_search.cpp.
#include "routing/kvnet_calc.h"

#include <algorithm>
#include <cmath>

#include "foundation/kvnet_exceptions.h"
#include "foundation/kvnet_format.h"
#include "store/kvnet_arealist.h"
#include "store/kvnet_network.h"

namespace kvnet {

TCalc::TCalc(TNetwork& nw, bool aTurnmode)
    : FNW(nw),
      FTurnMode(aTurnmode),
      FTimeFT(kWeekMinutes, 0),
      FTimeTF(kWeekMinutes, 0),
      FTurn(kWeekMinutes, 0) {
  if (aTurnmode) {
    throw EInvalidParameter(
        "Turn-mode searches are not available yet: create the calculator in node mode");
  }
  CheckSlots();
}

TCalc::~TCalc() = default;

// ---- criterion and arrays

void TCalc::CheckArrayIndex(std::int32_t index, bool time) const {
  const std::int32_t count = time ? FNW.TimeCount() : FNW.CostCount();
  if (index < 0 || index >= count) {
    throw EOutOfRange(Format(time
                                 ? "Index (%d) must be defined in Network object (CreateArrayTime)"
                                 : "Index (%d) must be defined in Network object (CreateArrayCost)",
                             index));
  }
}

void TCalc::SetCost(std::int32_t index) {
  CheckArrayIndex(index, false);
  FCostFT = index;
  FCostTF = index;
  FMaxICost = 0;
}

void TCalc::SetCostFT(std::int32_t index) {
  CheckArrayIndex(index, false);
  FCostFT = index;
  FMaxICost = 0;
}

void TCalc::SetCostTF(std::int32_t index) {
  CheckArrayIndex(index, false);
  FCostTF = index;
  FMaxICost = 0;
}

void TCalc::SetTime(std::int32_t index) {
  SetTimePeriod(index, 0, kWeekMinutes);
}

void TCalc::SetTimePeriod(std::int32_t index, std::int32_t fromMinute, std::int32_t toMinute) {
  CheckArrayIndex(index, true);
  if (fromMinute < 0 || toMinute > kWeekMinutes || fromMinute >= toMinute) {
    throw EOutOfRange(Format("A time period must lie within 0..%d minutes: %d..%d", kWeekMinutes,
                             fromMinute, toMinute));
  }
  std::fill(FTimeFT.begin() + fromMinute, FTimeFT.begin() + toMinute, index);
  std::fill(FTimeTF.begin() + fromMinute, FTimeTF.begin() + toMinute, index);
  FMaxICost = 0;
  CheckSlots();
}

void TCalc::SetTurn(std::int32_t index) {
  if (index < 0 || index >= FNW.TurnListCount()) {
    throw EOutOfRange(
        Format("Index (%d) must be defined in Network object (CreateArrayTurn)", index));
  }
  std::fill(FTurn.begin(), FTurn.end(), index);
  FMaxICost = 0;
  CheckSlots();
}

void TCalc::CheckSlots() {
  const std::int32_t times = FNW.TimeCount();
  const auto validTime = [times](std::int32_t i) { return i >= 0 && i < times; };
  FRouteTimeOK = std::all_of(FTimeFT.begin(), FTimeFT.end(), validTime) &&
                 std::all_of(FTimeTF.begin(), FTimeTF.end(), validTime);
  FRouteCostOK =
      FCostFT >= 0 && FCostFT < FNW.CostCount() && FCostTF >= 0 && FCostTF < FNW.CostCount();
  const std::int32_t turns = FNW.TurnListCount();
  FTurnsOK = std::all_of(FTurn.begin(), FTurn.end(),
                         [turns](std::int32_t i) { return i >= 0 && i < turns; });
  const std::int32_t first = FTimeFT.front();
  const auto same = [first](std::int32_t i) { return i == first; };
  FTimeSingleSlot = std::all_of(FTimeFT.begin(), FTimeFT.end(), same) &&
                            std::all_of(FTimeTF.begin(), FTimeTF.end(), same)
                        ? first
                        : -1;
  const std::int32_t firstTurn = FTurn.front();
  FTurnSingleSlot = std::all_of(FTurn.begin(), FTurn.end(),
                                [firstTurn](std::int32_t i) { return i == firstTurn; })
                        ? firstTurn
                        : -1;
}

void TCalc::SetShortest(bool turncosts) {
  CheckSlots();
  if (turncosts && !FTurnsOK) {
    throw Exception("One or more timeslots has not been defined through SetTurn(Period)");
  }
  if (turncosts && FTurnSingleSlot == -1)
    throw Exception("Only a single timeslot is allowed for turns");
  FRouteCriteria = rcDist;
  FTurnCosts = turncosts;
  FMaxICost = 0;
}

void TCalc::SetFastest(bool turncosts) {
  CheckSlots();
  if (!FRouteTimeOK) throw Exception("One or more timeslots points to a non-valid Time-Array");
  if (turncosts && !FTurnsOK) {
    throw Exception("One or more timeslots has not been defined through SetTurn(Period)");
  }
  FRouteCriteria = rcTime;
  FTurnCosts = turncosts;
  FMaxICost = 0;
}

void TCalc::SetCheapest(bool turncosts) {
  CheckSlots();
  if (!FRouteCostOK) throw Exception("Call SetCostFT and SetCostTF to define Cost-Array");
  if (turncosts && !FTurnsOK) {
    throw Exception("One or more timeslots has not been defined through SetTurn(Period)");
  }
  if (turncosts && FTurnSingleSlot == -1)
    throw Exception("Only a single timeslot is allowed for turns");
  FRouteCriteria = rcCost;
  FTurnCosts = turncosts;
  FMaxICost = 0;
}

// ---- search settings

void TCalc::SetLimit(std::int32_t limitID, std::uint8_t value) {
  if (limitID < 1 || limitID > 9) return;
  FLimits[static_cast<std::size_t>(limitID)] = value;
  Fanylimit =
      std::any_of(FLimits.begin() + 1, FLimits.end(), [](std::uint8_t v) { return v != 0; });
}

std::uint8_t TCalc::Limit(std::int32_t limitID) const {
  return limitID >= 1 && limitID <= 9 ? FLimits[static_cast<std::size_t>(limitID)] : 0;
}

void TCalc::SetSkipLinkList(const TBitArray* list) {
  if (list != nullptr && list->Size() != static_cast<std::int64_t>(FNW.LinkCount()) + 1) {
    throw Exception("SkipLinkList has wrong size");
  }
  FSkipLinkList = list;
}

void TCalc::SetMaxSpeed(float x) {
  if (x >= 0 && std::isfinite(x)) FMaxSpeed = x;
}

void TCalc::SetRelativeSpeed(double x) {
  if (x >= 0.01 && x <= 1) FRelativeSpeed = x;
}

void TCalc::SetThreads(std::int32_t n) {
  if (n >= 1 && n <= 255) FThreads = n;
}

void TCalc::SetSmartInit(bool value) {
  // Labels are reset by generation, so smart initialisation needs no cell bookkeeping; the
  // setting is kept (and requires the spatial index) for callers that ask for it.
  FSmartInit = value && FNW.Quadtree() != nullptr;
}

void TCalc::SetStarttime(float value) {
  if (!std::isfinite(value))
    throw EInvalidParameter(Format("Starttime must be a number: %g", value));
  double wrapped = std::fmod(static_cast<double>(value), kWeekMinutes);
  if (wrapped < 0) wrapped += kWeekMinutes;
  FStarttime = static_cast<float>(wrapped >= kWeekMinutes ? 0 : wrapped);
}

// ---- cost model

float TCalc::GetTime(std::int32_t index, std::int32_t link) const {
  FNW.CheckOpen();
  CheckArrayIndex(index, true);
  if (link < 1 || link > FNW.LinkCount()) {
    throw EOutOfRange(Format("Link-ID must be between 1 and %d: %d", FNW.LinkCount(), link));
  }
  return ModifiedTime(index, link);
}

float TCalc::ModifiedTime(std::int32_t index, std::int32_t link) const {
  double t = FNW.TimeArray(index)[link];
  if (FMaxSpeed != 0) t = std::max(t, static_cast<double>(FNW.LengthOf(link)) / FMaxSpeed * 60);
  if (FRelativeSpeed != 1) t /= FRelativeSpeed;
  return static_cast<float>(t);
}

float TCalc::EdgeCost(std::int32_t link, bool ft, double x) const {
  switch (FRouteCriteria) {
    case rcDist:
      return FNW.LengthOf(link);
    case rcTime: {
      if (FTimeSingleSlot != -1) return ModifiedTime(FTimeSingleSlot, link);
      const auto minute = static_cast<std::int64_t>(std::floor(FStarttime + x)) % kWeekMinutes;
      const auto m = static_cast<std::size_t>(minute < 0 ? minute + kWeekMinutes : minute);
      return FNW.TimeArray(ft ? FTimeFT[m] : FTimeTF[m])[link];
    }
    default:
      return FNW.CostArray(ft ? FCostFT : FCostTF)[link];
  }
}

bool TCalc::LinkPassesLimits(std::int32_t link) const {
  const std::int32_t layers = FNW.LimitSlotsInUse();
  for (std::int32_t k = 1; k <= layers; ++k) {
    const std::uint8_t v = FLimits[static_cast<std::size_t>(k)];
    const std::uint8_t w = FNW.LimitArray(k)[link];
    if (FNW.LimitBitPatternOf(k) ? (v & w) != 0 : (w != 0 && v > w)) return false;
  }
  return true;
}

bool TCalc::LinkIsOpen(std::int32_t link, std::int32_t node) const {
  const auto slots = FNW.NodeSlots(node);
  const bool listed = std::any_of(slots.begin(), slots.end(), [&](std::int32_t entry) {
    return entry == link || (IgnoreOneway && entry == -link);
  });
  return listed && (!Fanylimit || LinkPassesLimits(link)) &&
         (FSkipLinkList == nullptr || !FSkipLinkList->GetBit(link));
}

std::int32_t TCalc::HierarchyLevel(const TFloatPoint& from, const TFloatPoint& target) const {
  const double d = FNW.DistanceBetweenPoints(from, target);
  if (d > FLevelLimit[0]) return Lmax;
  if (d > FLevelLimit[1]) return std::max(Lmax, 2);
  if (d > FLevelLimit[2]) return std::max(Lmax, 3);
  if (d > FLevelLimit[3]) return std::max(Lmax, 4);
  return 5;
}

std::int32_t TCalc::NodeArea(std::int32_t node) const {
  std::int32_t area = 0;
  for (const std::int32_t entry : FNW.NodeSlots(node)) {
    const std::int32_t a = FNW.AreaList().GetArea(std::abs(entry));
    if (a == 0 || (area != 0 && a != area)) return 0;
    area = a;
  }
  return area;
}

void TCalc::PrepareNoDriveThroughExits(std::int32_t startArea) {
  const std::int64_t size = static_cast<std::int64_t>(FNW.LinkCount()) + 1;
  FExitLinkFTBits.SetSize(size);
  FExitLinkTFBits.SetSize(size);
  FNW.AreaList().UpdateExitBits(FExitLinkFTBits, FExitLinkTFBits, startArea);
}

void TCalc::PrepareNoDriveThroughAreas(std::int32_t area1, std::int32_t area2) {
  FNoDriveThroughBits.SetSize(static_cast<std::int64_t>(FNW.LinkCount()) + 1);
  FNW.AreaList().Update(FNoDriveThroughBits, area1, area2);
}

void TCalc::SelectClosedLinks(TBitArray& ba, bool includeoneway) const {
  FNW.CheckOpen();
  ba.SetSize(static_cast<std::int64_t>(FNW.LinkCount()) + 1);
  for (std::int32_t link = 1; link <= FNW.LinkCount(); ++link) {
    if (FNW.LengthOf(link) == 0) continue;
    const bool closed = includeoneway && (FNW.AttributeOf(link) & kAttrOneway) == kAttrOneway;
    if ((Fanylimit && !LinkPassesLimits(link)) || closed) ba.SetBit2(link, true);
  }
}

std::unique_ptr<TCalc> TCalc::CloneCalc() const {
  auto v = std::make_unique<TCalc>(FNW, FTurnMode);
  v->FRouteCriteria = FRouteCriteria;
  v->FTurnCosts = FTurnCosts;
  v->FCostFT = FCostFT;
  v->FCostTF = FCostTF;
  v->FTimeFT = FTimeFT;
  v->FTimeTF = FTimeTF;
  v->FTurn = FTurn;
  v->FStarttime = FStarttime;
  v->CheckSlots();
  v->FSkipLinkList = FSkipLinkList;
  v->fIncludeNodes = fIncludeNodes;
  v->IgnoreOneway = IgnoreOneway;
  v->MatrixBuffer = MatrixBuffer;
  v->MaxCost = MaxCost;
  v->MaxCostExt = MaxCostExt;
  v->FMaxSpeed = FMaxSpeed;
  v->FRelativeSpeed = FRelativeSpeed;
  v->NoDriveThrough = NoDriveThrough;
  v->FSmartInit = FSmartInit;
  v->UTurnAllowed = UTurnAllowed;
  v->FLimits = FLimits;
  v->Fanylimit = Fanylimit;
  return v;
}

}  // namespace kvnet
