#include "display/painter.h"

#include <cstdio>

namespace velmora {
namespace {

constexpr ChartLayout L = chartLayout;
constexpr int kChartBottom = L.chartTop + L.chartHeight;  // 184
constexpr int kRowPitch = 20;
constexpr int kValueOffset = 48;
constexpr int kHelpTop = kChartBottom + 4;  // 188

constexpr Color kNremLabel{255, 255, 128};
constexpr Color kRemLabel{128, 255, 255};
constexpr Color kBlack{0, 0, 0};

// Bands of the chart, as heights above its bottom, and their grey or yellow fill.
struct Band {
  int from, to;
  bool yellow;
  int step;
};
constexpr Band kBands[] = {
    {0, 6, false, 0},    {6, 16, false, 16}, {16, 26, false, 32},
    {26, 48, false, 48}, {48, 80, true, 16},
};

// Text drawn at x and x + 1, which thickens it.
void TextTwice(Canvas& c, int x, int y, const char* text) {
  c.TextOut(x, y, text);
  c.TextOut(x + 1, y, text);
}

void PaintChart(SharedState& s, const DrawingObjects& o, Canvas& c) {
  c.SelectBrush(o.grey[63]);
  c.SelectPen(o.grey[63], DrawingObjects::kGreyPenWidth);
  c.Rectangle(0, 0, L.windowWidth, L.windowHeight);
  c.SelectPen(o.grey[0], DrawingObjects::kGreyPenWidth);
  for (const Band& band : kBands) {
    c.SelectBrush(band.yellow ? o.yellow[band.step] : o.grey[band.step]);
    c.Rectangle(L.chartLeft, kChartBottom - band.to, L.chartLeft + L.chartWidth,
                kChartBottom - band.from);
  }
  c.MoveTo(L.chartLeft, L.chartTop);
  c.LineTo(L.chartLeft + L.chartWidth, L.chartTop);

  const int32_t planMinutes = s.planMinutes;
  for (int x = 0, next = 0; x < L.chartWidth; ++x) {
    if ((planMinutes * x) / L.chartWidth >= next) {
      c.MoveTo(L.chartLeft + x, L.chartTop);
      c.LineTo(L.chartLeft + x, kChartBottom);
      next += 60;
    }
  }
  // Neither curve is clipped to the chart.
  c.SelectPen(o.yellow[63], DrawingObjects::kCurvePenWidth);
  c.MoveTo(L.chartLeft, L.chartTop + s.planPulseSeconds[0]);
  for (int x = 1; x < L.chartWidth; ++x) {
    c.LineTo(L.chartLeft + x, L.chartTop + s.planPulseSeconds[(planMinutes * x) / L.chartWidth]);
  }
  c.SelectPen(o.cyan[63], DrawingObjects::kCurvePenWidth);
  c.MoveTo(L.chartLeft, kChartBottom - s.planFreq[0]);
  for (int x = 1; x < L.chartWidth; ++x) {
    c.LineTo(L.chartLeft + x, kChartBottom - s.planFreq[(planMinutes * x) / L.chartWidth]);
  }
  c.SetTextColor(kNremLabel);
  TextTwice(c, L.chartLeft + 2, L.chartTop + (L.chartHeight >> 1) + 2, "NREM ");
  c.SetTextColor(kRemLabel);
  TextTwice(c, L.chartLeft + 2, L.chartTop + (L.chartHeight >> 1) - 16, "REM ");
}

void PaintRow(const DrawingObjects& o, Canvas& c, int y, const char* label, const char* value) {
  c.SelectBrush(o.grey[16]);
  c.SelectPen(o.grey[0], DrawingObjects::kGreyPenWidth);
  c.Rectangle(L.rowLeft, y - 1, L.rowLeft + L.rowWidth, y + kRowPitch);
  c.SetTextColor({static_cast<uint8_t>((y + 176) % 256), 160, 255});
  const int x = L.rowLeft + 4;
  TextTwice(c, x, y, label);
  TextTwice(c, x + kValueOffset, y, value);
}

const char* SpaceHelp(const SharedState& s) {
  if (s.soundMode == 0) return "";
  return s.toneMode == 1 ? "Space=Pulse" : "Space=Tone";
}

}  // namespace

DrawingObjects CreateDrawingObjects(Canvas& canvas) {
  DrawingObjects o;
  for (int k = 0; k < 64; ++k) {
    const auto up = static_cast<uint8_t>(128 + 2 * k);
    const auto down = static_cast<uint8_t>(127 - 2 * k);
    const auto grey = static_cast<uint8_t>(4 * k + 2);
    o.grey[k] = {grey, grey, grey};
    o.yellow[k] = {up, up, down};
    o.cyan[k] = {down, up, up};
  }
  canvas.SelectBrush(o.grey[32]);
  canvas.SelectPen(o.grey[32], DrawingObjects::kGreyPenWidth);
  canvas.Rectangle(0, 0, L.windowWidth, L.windowHeight);
  return o;
}

std::string FormatClock(Clock& clock, int32_t seconds) {
  return clock.LocalHourMinute(seconds);
}

void StateRowText(const SharedState& s, RowText& out) {
  std::array<char, StateText::kCapacity + 1> label;
  s.stateText.CopyTo(label);
  if (s.sleepRunning == 1) {
    std::snprintf(out.data(), out.size(), "%s %.1f x %.2f Hz", label.data(),
                  static_cast<double>(s.currentHz.Load()),
                  static_cast<double>(s.burstRateHz.Load()));
  } else {
    std::snprintf(out.data(), out.size(), "%s", label.data());
  }
}

int32_t FinishTimeOf(const SharedState& s) {
  return s.startTime + s.planMinutes * 60;
}

void TimerRowText(const SharedState& s, Clock& clock, RowText& out) {
  std::snprintf(out.data(), out.size(), "Start %s to %s finish",
                FormatClock(clock, s.startTime).c_str(),
                FormatClock(clock, FinishTimeOf(s)).c_str());
}

void SleepRowText(const SharedState& s, RowText& out) {
  std::snprintf(out.data(), out.size(), "REM %d (time+%d)  Moon %.1f/%d", s.remCount.Load(),
                s.timePlus.Load(), s.moonAgeDays.Load(), s.moonFactor.Load());
}

void PowerRowText(const SharedState& s, RowText& out) {
  if (s.soundMode == 1) {
    std::snprintf(out.data(), out.size(), "Sound mode %s", s.toneMode == 1 ? "/ Tone" : "/ Pulse");
  } else {
    std::snprintf(out.data(), out.size(), "Light-%d Range %d:%d LPT %04x", s.lightLevel.Load(),
                  4 - s.dutyRange, s.dutyRange + 4, static_cast<unsigned>(s.lptDataPort.Load()));
  }
}

HelpLines HelpText(const SharedState& s) {
  HelpLines lines{};
  const bool healing = s.healingMode == 1;
  lines.first = healing ? kCreditLine : kBannerLine;
  std::snprintf(lines.second.data(), lines.second.size(), "%s%s",
                healing ? "Enter=Sleep " : "Enter=Healing ", SpaceHelp(s));
  if (healing) {
    lines.third = "UpDownKey=REM LeftRightKey=time";
  } else {
    lines.third = s.soundMode == 0 ? "UpDownKey=Light LeftRightKey=range" : "";
  }
  return lines;
}

int CursorColumn(int64_t minutes, int32_t planMinutes) {
  return static_cast<int>(L.chartLeft + ((L.chartWidth - 1) * minutes) / planMinutes);
}

int WipeStripColumn(int64_t minutes, int32_t planMinutes) {
  return static_cast<int>(L.chartLeft + (L.chartWidth * minutes) / planMinutes - 1);
}

void PaintWindow(SharedState& s, const DrawingObjects& o, Canvas& c, Clock& clock,
                 WindowHost* host) {
  auto& flags = s.repaintFlags;
  if (s.sleepRunning == 0) flags[kRepaintCopyAll] = 1;
  if (flags[kRepaintChart]) {
    flags[kRepaintChart] = 0;
    flags[kRepaintCopyAll] = 1;
    PaintChart(s, o, c);
  }

  RowText value;
  constexpr const char* kLabels[] = {"STATE", "TIMER", "SLEEP", "POWER"};
  for (int row = 0; row < 4; ++row) {
    const int flag = kRepaintStateRow + row;
    if (!flags[flag]) continue;
    if (flag == kRepaintStateRow && flags[kRepaintWarning]) {
      flags[kRepaintWarning] = 0;
      if (host) {
        host->ShowWarningBox("WARNING", std::string(kOverloadLabel) + "\n" + kWarningAdvice);
      }
    }
    // Cleared before drawing: a change that arrives meanwhile is drawn next time.
    flags[flag] = 0;
    flags[kRepaintCopyAll] = 1;
    switch (flag) {
      case kRepaintStateRow:
        StateRowText(s, value);
        break;
      case kRepaintTimerRow:
        s.finishTime = FinishTimeOf(s);
        TimerRowText(s, clock, value);
        break;
      case kRepaintSleepRow:
        SleepRowText(s, value);
        break;
      default:
        PowerRowText(s, value);
        break;
    }
    PaintRow(o, c, L.rowTop + row * kRowPitch, kLabels[row], value.data());
  }

  if (flags[kRepaintHelpRows]) {
    flags[kRepaintHelpRows] = 0;  // the help rows alone do not copy the whole bitmap
    c.SelectBrush(o.grey[63]);
    c.SelectPen(o.grey[63], DrawingObjects::kGreyPenWidth);
    c.Rectangle(L.chartLeft, kHelpTop, L.windowWidth, L.windowHeight);
    c.SetTextColor(kBlack);
    const HelpLines help = HelpText(s);
    c.TextOut(L.chartLeft, kHelpTop, help.first);
    c.TextOut(L.chartLeft, kChartBottom + 24, help.second.data());
    if (help.third[0] != '\0') c.TextOut(L.chartLeft, kChartBottom + 40, help.third);
  }

  c.BeginPaint();
  const bool copyAll = flags[kRepaintCopyAll] != 0;
  if (copyAll) c.CopyToWindow(0, 0, L.windowWidth, L.windowHeight);
  const int32_t planMinutes = s.planMinutes;
  // Before the first plan there is nowhere to put the cursor.
  if (planMinutes > 0) {
    const int64_t minutes = (s.samplePos >> kRateShift) / 60000;
    if (s.tickCount & 1) {
      const int x = CursorColumn(minutes, planMinutes);
      c.WindowLine(o.grey[63], x, L.chartTop, x, kChartBottom);
    } else if (!copyAll) {
      c.CopyToWindow(WipeStripColumn(minutes, planMinutes), L.chartTop, 2, L.chartHeight);
    }
  }
  flags[kRepaintCopyAll] = 0;
  c.EndPaint();
}

}  // namespace velmora
