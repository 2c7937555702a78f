// SPDX-License-Identifier: LGPL-2.1-or-later
// The window's knob gestures and meter, without a window: what a drag, a
// wheel notch and a double-click write, and how the meter moves.
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "knob.h"

namespace {

struct Recorded {
  enum Kind { WRITE, TOUCH_BEGIN, TOUCH_END } _kind;
  uint32_t _port;
  float _value;
};

struct Recorder {
  std::vector<Recorded> _log;
  float _values[MORVANE_NUM_CONTROLS];  // by row

  Recorder()
  {
    for (uint32_t i = 0; i < MORVANE_NUM_CONTROLS; ++i) {
      _values[i] = morvane_controls[i]._default;
    }
  }
  morvane_knob_sink sink()
  {
    return {this,
            [](void* h, uint32_t port, float value) {
              static_cast<Recorder*>(h)->_log.push_back({Recorded::WRITE, port, value});
            },
            [](void* h, uint32_t port, bool grabbed) {
              static_cast<Recorder*>(h)->_log.push_back(
                  {grabbed ? Recorded::TOUCH_BEGIN : Recorded::TOUCH_END, port, 0.0f});
            }};
  }
  std::vector<float> writes(uint32_t port) const
  {
    std::vector<float> w;
    for (const Recorded& r : _log) {
      if (r._kind == Recorded::WRITE && r._port == port) {
        w.push_back(r._value);
      }
    }
    return w;
  }
};

constexpr uint32_t RATE = MORVANE_LFO_SHAKE_AMP_FREQ;      // log scale, 0.01 .. 20 Hz
constexpr uint32_t AMOUNT = MORVANE_LFO_SHAKE_AMP_AMOUNT;  // linear, 0 .. 100 %

double log_range(uint32_t port)
{
  return std::log(static_cast<double>(morvane_controls[port]._max) / morvane_controls[port]._min);
}

}  // namespace

TEST(KnobScale, PositionAndValueAreInversesOnEveryKnob)
{
  for (uint32_t port = 0; port < MORVANE_NUM_CONTROLS; ++port) {
    const morvane_control& c = morvane_controls[port];
    EXPECT_EQ(morvane_knob_value(port, 0.0), c._min) << c._symbol;
    EXPECT_EQ(morvane_knob_value(port, 1.0), c._max) << c._symbol;
    for (double p = 0.0; p <= 1.0; p += 0.125) {
      EXPECT_NEAR(morvane_knob_position(port, morvane_knob_value(port, p)), p, 1e-5) << c._symbol;
    }
  }
}

TEST(KnobScale, RatesMoveByEqualRatiosAndOthersByEqualSteps)
{
  const double r1 = morvane_knob_value(RATE, 0.5) / morvane_knob_value(RATE, 0.25);
  const double r2 = morvane_knob_value(RATE, 0.75) / morvane_knob_value(RATE, 0.5);
  EXPECT_NEAR(r1, r2, 1e-4 * r1);
  const double d1 = morvane_knob_value(AMOUNT, 0.5) - morvane_knob_value(AMOUNT, 0.25);
  const double d2 = morvane_knob_value(AMOUNT, 0.75) - morvane_knob_value(AMOUNT, 0.5);
  EXPECT_NEAR(d1, d2, 1e-4);
  EXPECT_FLOAT_EQ(morvane_knob_value(AMOUNT, 0.5), 50.0f);
}

TEST(KnobScale, OutOfRangeAndNanPositionsAreClamped)
{
  EXPECT_EQ(morvane_knob_value(RATE, -3.0), morvane_controls[RATE]._min);
  EXPECT_EQ(morvane_knob_value(RATE, 7.0), morvane_controls[RATE]._max);
  EXPECT_EQ(morvane_knob_value(RATE, std::nan("")), morvane_controls[RATE]._default);
  EXPECT_EQ(morvane_knob_position(AMOUNT, 1e9f), 1.0);
  EXPECT_EQ(morvane_knob_position(AMOUNT, -1e9f), 0.0);
}

TEST(KnobScale, OnlyTheThirteenSoundingPortsAndTheStereoWidthAndOffsetHaveKnobs)
{
  int visible = 0;
  for (int row = -2; row < static_cast<int>(MORVANE_NUM_STEREO_CONTROLS) + 3; ++row) {
    const bool expected = (row >= 0 && row <= MORVANE_LFO_SHAKE_TIME_MOD) ||
                          row == morvane_control_row(MORVANE_WIDTH) || row == morvane_control_row(MORVANE_LFO_OFFSET);
    EXPECT_EQ(morvane_knob_visible(row), expected) << row;
    visible += morvane_knob_visible(row) ? 1 : 0;
  }
  EXPECT_EQ(visible, 15);
}

// The note values of a cycle in quarter notes, shortest first: 1/32, 1/16
// triplet, 1/16, 1/8 triplet, dotted 1/16, ... up to 16 whole notes.
const std::vector<float> NOTE_VALUES = {1.0f / 8, 1.0f / 6, 1.0f / 4, 1.0f / 3, 3.0f / 8, 1.0f / 2, 2.0f / 3,
                                        3.0f / 4, 1.0f,     4.0f / 3, 3.0f / 2, 2.0f,     8.0f / 3, 3.0f,
                                        4.0f,     6.0f,     8.0f,     16.0f,    32.0f,    64.0f};

TEST(KnobStepped, TempoPutsTheCycleInTheRatePlace)
{
  const int rate = MORVANE_LFO_SHAKE_FREQ_FREQ;
  const int cycle = morvane_control_row(MORVANE_LFO_SHAKE_FREQ_CYCLE);
  const int sync = morvane_control_row(MORVANE_LFO_SHAKE_FREQ_SYNC);
  EXPECT_TRUE(morvane_knob_stepped(cycle));
  EXPECT_FALSE(morvane_knob_stepped(sync));
  Recorder rec;
  // Free, Song, and values the plug-in rounds to them, then Tempo.
  for (float mode : {0.0f, 1.0f, 1.49f, 1.5f, 2.0f, 7.0f}) {
    rec._values[sync] = mode;
    EXPECT_EQ(morvane_knob_shown(rec._values, rate), mode < 1.5f) << mode;
    EXPECT_EQ(morvane_knob_shown(rec._values, cycle), mode >= 1.5f) << mode;
    EXPECT_TRUE(morvane_knob_shown(rec._values, MORVANE_LFO_SHAKE_AMP_FREQ));  // another LFO's
  }
  EXPECT_FALSE(morvane_knob_shown(rec._values, sync));
}

TEST(KnobStepped, WheelStepsThroughEveryNoteValueAndWritesTheCyclePort)
{
  Recorder rec;
  morvane_knob_input input;
  const uint32_t cycle = static_cast<uint32_t>(morvane_control_row(MORVANE_LFO_SHAKE_AMP_CYCLE));
  rec._values[cycle] = NOTE_VALUES.front();
  while (input.press(static_cast<int>(cycle), MORVANE_BUTTON_WHEEL_UP, 0.0, 0, false, 1.0, rec._values,
                     rec.sink())) {
  }
  const std::vector<float> up = rec.writes(MORVANE_LFO_SHAKE_AMP_CYCLE);
  EXPECT_EQ(up, std::vector<float>(NOTE_VALUES.begin() + 1, NOTE_VALUES.end()));
  // Each notch a gesture of its own (touch, write, touch), all on the port.
  ASSERT_EQ(rec._log.size(), 3 * up.size());
  EXPECT_EQ(rec._log.back()._kind, Recorded::TOUCH_END);
  EXPECT_EQ(rec._log.back()._port, static_cast<uint32_t>(MORVANE_LFO_SHAKE_AMP_CYCLE));
  // Between two note values (5 quarters): down to 4, up to 6.
  rec._values[cycle] = 5.0f;
  input.press(static_cast<int>(cycle), MORVANE_BUTTON_WHEEL_DOWN, 0.0, 0, false, 1.0, rec._values, rec.sink());
  EXPECT_EQ(rec._values[cycle], 4.0f);
  rec._values[cycle] = 5.0f;
  input.press(static_cast<int>(cycle), MORVANE_BUTTON_WHEEL_UP, 0.0, 0, true, 1.0, rec._values, rec.sink());
  EXPECT_EQ(rec._values[cycle], 6.0f);
}

TEST(KnobStepped, DragPassesEachNoteValueInTurn)
{
  Recorder rec;
  morvane_knob_input input;
  const int cycle = morvane_control_row(MORVANE_LFO_SHAKE_TIME_CYCLE);
  rec._values[cycle] = 0.125f;
  ASSERT_TRUE(input.press(cycle, MORVANE_BUTTON_LEFT, 400.0, 0, false, 1.0, rec._values, rec.sink()));
  // Up the whole way in 2-pixel moves, then back down a way.
  for (double y = 398.0; y >= 190.0; y -= 2.0) {
    input.motion(y, false, rec._values, rec.sink());
  }
  input.motion(270.0, false, rec._values, rec.sink());
  input.release(MORVANE_BUTTON_LEFT, rec.sink());
  std::vector<float> expected(NOTE_VALUES.begin() + 1, NOTE_VALUES.end());
  // 80 px down from the top: 0.4 of the 19 steps (7.6) back, to the 12th
  // point.
  expected.push_back(NOTE_VALUES[11]);
  EXPECT_EQ(rec.writes(MORVANE_LFO_SHAKE_TIME_CYCLE), expected);
  EXPECT_EQ(rec._log.front()._kind, Recorded::TOUCH_BEGIN);
  EXPECT_EQ(rec._log.back()._kind, Recorded::TOUCH_END);
  EXPECT_EQ(rec._log.back()._port, static_cast<uint32_t>(MORVANE_LFO_SHAKE_TIME_CYCLE));
}

TEST(KnobDrag, DragUpIsFramedByTouchAndRisesOnALogScale)
{
  Recorder rec;
  morvane_knob_input input;
  ASSERT_TRUE(input.press(RATE, MORVANE_BUTTON_LEFT, 300.0, 1000, false, 1.0, rec._values, rec.sink()));
  EXPECT_EQ(input.dragging(), static_cast<int>(RATE));
  for (int i = 1; i <= 4; ++i) {
    input.motion(300.0 - 8.0 * i, false, rec._values, rec.sink());
  }
  ASSERT_TRUE(input.release(MORVANE_BUTTON_LEFT, rec.sink()));
  EXPECT_EQ(input.dragging(), -1);

  ASSERT_EQ(rec._log.size(), 6u);
  EXPECT_EQ(rec._log.front()._kind, Recorded::TOUCH_BEGIN);
  EXPECT_EQ(rec._log.back()._kind, Recorded::TOUCH_END);
  const std::vector<float> w = rec.writes(RATE);
  ASSERT_EQ(w.size(), 4u);
  // 8 px is 8/200 of the log range: each step the same ratio.
  const double step = 8.0 / MORVANE_KNOB_DRAG_PIXELS * log_range(RATE);
  double previous = morvane_controls[RATE]._default;
  for (float v : w) {
    EXPECT_NEAR(std::log(v / previous), step, 1e-4);
    previous = v;
  }
  EXPECT_EQ(rec._values[RATE], w.back());
}

TEST(KnobDrag, FullDragSweepsTheRangeAndClampsBeyond)
{
  Recorder rec;
  morvane_knob_input input;
  rec._values[AMOUNT] = 0.0f;
  input.press(AMOUNT, MORVANE_BUTTON_LEFT, 500.0, 0, false, 1.0, rec._values, rec.sink());
  input.motion(500.0 - MORVANE_KNOB_DRAG_PIXELS, false, rec._values, rec.sink());
  EXPECT_FLOAT_EQ(rec._values[AMOUNT], 100.0f);
  input.motion(0.0, false, rec._values, rec.sink());
  EXPECT_EQ(rec._values[AMOUNT], 100.0f);
  // Back down from the clamp: the way down starts at once.
  input.motion(50.0, false, rec._values, rec.sink());
  EXPECT_FLOAT_EQ(rec._values[AMOUNT], 75.0f);
  input.release(MORVANE_BUTTON_LEFT, rec.sink());
  for (float v : rec.writes(AMOUNT)) {
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, 100.0f);
  }
}

TEST(KnobDrag, ShiftIsTenTimesFinerAndScaleStretchesTheDistance)
{
  Recorder fine, scaled;
  morvane_knob_input a, b;
  fine._values[AMOUNT] = 0.0f;
  scaled._values[AMOUNT] = 0.0f;
  a.press(AMOUNT, MORVANE_BUTTON_LEFT, 300.0, 0, true, 1.0, fine._values, fine.sink());
  a.motion(200.0, true, fine._values, fine.sink());
  EXPECT_NEAR(fine._values[AMOUNT], 5.0f, 1e-3);
  b.press(AMOUNT, MORVANE_BUTTON_LEFT, 300.0, 0, false, 2.0, scaled._values, scaled.sink());
  b.motion(200.0, false, scaled._values, scaled.sink());
  EXPECT_NEAR(scaled._values[AMOUNT], 25.0f, 1e-3);
}

TEST(KnobDrag, PressesOffKnobsAndOnReservedPortsDoNothing)
{
  Recorder rec;
  morvane_knob_input input;
  EXPECT_FALSE(input.press(-1, MORVANE_BUTTON_LEFT, 0.0, 0, false, 1.0, rec._values, rec.sink()));
  EXPECT_FALSE(input.press(MORVANE_LFO_AMP_RANGE_FREQ, MORVANE_BUTTON_LEFT, 0.0, 0, false, 1.0, rec._values,
                           rec.sink()));
  EXPECT_FALSE(input.press(MORVANE_LFO_AMP_RANGE_FREQ, MORVANE_BUTTON_WHEEL_UP, 0.0, 0, false, 1.0,
                           rec._values, rec.sink()));
  EXPECT_FALSE(input.press(99, MORVANE_BUTTON_LEFT, 0.0, 0, false, 1.0, rec._values, rec.sink()));
  EXPECT_FALSE(input.motion(10.0, false, rec._values, rec.sink()));
  EXPECT_FALSE(input.release(MORVANE_BUTTON_LEFT, rec.sink()));
  EXPECT_TRUE(rec._log.empty());
}

TEST(KnobDrag, CancelEndsTheTouchOfADrag)
{
  Recorder rec;
  morvane_knob_input input;
  input.press(RATE, MORVANE_BUTTON_LEFT, 10.0, 0, false, 1.0, rec._values, rec.sink());
  EXPECT_FALSE(input.release(3, rec.sink()));  // another button does not end it
  input.cancel(rec.sink());
  input.cancel(rec.sink());
  ASSERT_EQ(rec._log.size(), 2u);
  EXPECT_EQ(rec._log[0]._kind, Recorded::TOUCH_BEGIN);
  EXPECT_EQ(rec._log[1]._kind, Recorded::TOUCH_END);
}

TEST(KnobWheel, ANotchIsAHundredthOfTheRangeFramedByTouch)
{
  Recorder rec;
  morvane_knob_input input;
  const float before = rec._values[RATE];
  ASSERT_TRUE(input.press(RATE, MORVANE_BUTTON_WHEEL_UP, 0.0, 0, false, 1.0, rec._values, rec.sink()));
  ASSERT_EQ(rec._log.size(), 3u);
  EXPECT_EQ(rec._log[0]._kind, Recorded::TOUCH_BEGIN);
  EXPECT_EQ(rec._log[1]._kind, Recorded::WRITE);
  EXPECT_EQ(rec._log[2]._kind, Recorded::TOUCH_END);
  EXPECT_NEAR(std::log(rec._values[RATE] / before), MORVANE_KNOB_WHEEL_STEP * log_range(RATE), 1e-4);
  // Down with Shift: a tenth of that.
  const float up = rec._values[RATE];
  input.press(RATE, MORVANE_BUTTON_WHEEL_DOWN, 0.0, 0, true, 1.0, rec._values, rec.sink());
  EXPECT_NEAR(std::log(up / rec._values[RATE]), 0.1 * MORVANE_KNOB_WHEEL_STEP * log_range(RATE), 1e-4);
  EXPECT_EQ(input.dragging(), -1);
}

TEST(KnobWheel, AtTheEndOfTheRangeNothingIsSent)
{
  Recorder rec;
  morvane_knob_input input;
  rec._values[AMOUNT] = 100.0f;
  EXPECT_FALSE(input.press(AMOUNT, MORVANE_BUTTON_WHEEL_UP, 0.0, 0, false, 1.0, rec._values, rec.sink()));
  EXPECT_TRUE(rec._log.empty());
  EXPECT_TRUE(input.press(AMOUNT, MORVANE_BUTTON_WHEEL_DOWN, 0.0, 0, false, 1.0, rec._values, rec.sink()));
  EXPECT_FLOAT_EQ(rec._values[AMOUNT], 99.0f);
}

TEST(KnobDoubleClick, TwoQuickPressesOnOneKnobWriteItsDefault)
{
  Recorder rec;
  morvane_knob_input input;
  rec._values[RATE] = 12.0f;
  input.press(RATE, MORVANE_BUTTON_LEFT, 50.0, 4000, false, 1.0, rec._values, rec.sink());
  input.release(MORVANE_BUTTON_LEFT, rec.sink());
  input.press(RATE, MORVANE_BUTTON_LEFT, 50.0, 4000 + MORVANE_KNOB_DOUBLE_CLICK_MS, false, 1.0, rec._values,
              rec.sink());
  EXPECT_EQ(input.dragging(), -1);  // the second press starts no drag
  EXPECT_EQ(rec._values[RATE], morvane_controls[RATE]._default);
  ASSERT_EQ(rec.writes(RATE).size(), 1u);
  // Touch begin and end of the first press, then begin, write, end.
  ASSERT_EQ(rec._log.size(), 5u);
  EXPECT_EQ(rec._log[2]._kind, Recorded::TOUCH_BEGIN);
  EXPECT_EQ(rec._log[3]._kind, Recorded::WRITE);
  EXPECT_EQ(rec._log[4]._kind, Recorded::TOUCH_END);
}

TEST(KnobDoubleClick, SlowPressesOrPressesOnTwoKnobsAreNot)
{
  Recorder rec;
  morvane_knob_input input;
  rec._values[RATE] = 12.0f;
  rec._values[AMOUNT] = 30.0f;
  input.press(RATE, MORVANE_BUTTON_LEFT, 50.0, 1000, false, 1.0, rec._values, rec.sink());
  input.release(MORVANE_BUTTON_LEFT, rec.sink());
  input.press(RATE, MORVANE_BUTTON_LEFT, 50.0, 1001 + MORVANE_KNOB_DOUBLE_CLICK_MS, false, 1.0, rec._values,
              rec.sink());
  input.release(MORVANE_BUTTON_LEFT, rec.sink());
  input.press(AMOUNT, MORVANE_BUTTON_LEFT, 50.0, 1400, false, 1.0, rec._values, rec.sink());
  input.release(MORVANE_BUTTON_LEFT, rec.sink());
  EXPECT_TRUE(rec.writes(RATE).empty());
  EXPECT_TRUE(rec.writes(AMOUNT).empty());
  EXPECT_EQ(rec._values[RATE], 12.0f);
}

TEST(KnobDoubleClick, ServerTimeWrappingAroundStillCounts)
{
  Recorder rec;
  morvane_knob_input input;
  rec._values[AMOUNT] = 30.0f;
  // 50 ms before the 32-bit server time wraps, then 50 ms after.
  const unsigned long before_wrap = std::numeric_limits<uint32_t>::max() - 49ul;
  input.press(AMOUNT, MORVANE_BUTTON_LEFT, 0.0, before_wrap, false, 1.0, rec._values, rec.sink());
  input.release(MORVANE_BUTTON_LEFT, rec.sink());
  input.press(AMOUNT, MORVANE_BUTTON_LEFT, 0.0, 50ul, false, 1.0, rec._values, rec.sink());
  EXPECT_EQ(rec._values[AMOUNT], morvane_controls[AMOUNT]._default);
}

TEST(Meter, JumpsToAPeakHoldsThenFallsAtTwentyDbASecond)
{
  morvane_meter m;
  EXPECT_TRUE(std::isinf(m.level_db()) && m.level_db() < 0);
  m.peak(0.5f, 10.0);
  EXPECT_NEAR(m.level_db(), -6.0206, 1e-3);
  EXPECT_FALSE(m.advance(10.0 + MORVANE_METER_HOLD_S * 0.9));
  EXPECT_NEAR(m.level_db(), -6.0206, 1e-3);
  EXPECT_TRUE(m.advance(10.0 + MORVANE_METER_HOLD_S + 0.5));
  EXPECT_NEAR(m.level_db(), -6.0206 - 0.5 * MORVANE_METER_FALL_DB_PER_S, 1e-3);
  // A lower peak while it falls does not lift it; a higher one does.
  m.peak(0.01f, 10.0 + MORVANE_METER_HOLD_S + 0.5);
  EXPECT_NEAR(m.level_db(), -16.0206, 1e-3);
  m.peak(1.0f, 11.0 + MORVANE_METER_HOLD_S);
  EXPECT_NEAR(m.level_db(), 0.0, 1e-6);
}

TEST(Meter, EmptiesBelowTheFloorAndIgnoresBadPeaks)
{
  morvane_meter m;
  m.peak(std::nanf(""), 0.0);
  m.peak(-1.0f, 0.0);
  m.peak(0.0f, 0.0);
  EXPECT_TRUE(std::isinf(m.level_db()));
  m.peak(1.0f, 1.0);
  m.advance(1.0 + MORVANE_METER_HOLD_S + 100.0);
  EXPECT_TRUE(std::isinf(m.level_db()) && m.level_db() < 0);
  EXPECT_FALSE(m.advance(1000.0));
  // Time going backwards does not raise or lower it.
  m.peak(0.1f, 2000.0);
  const float level = m.level_db();
  EXPECT_FALSE(m.advance(1500.0));
  EXPECT_EQ(m.level_db(), level);
}
