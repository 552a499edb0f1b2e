// The Win32 back-end under Wine: messages as the handler sees them, a real
// window's creation, keys, timer and quit, the GDI canvas against the
// software canvas pixel for pixel, threads, and the service manager's
// queries.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

#include "display/painter.h"
#include "plan/night_plan.h"
#include "platform/giveio/giveio_access.h"
#include "platform/raster/raster_canvas.h"
#include "platform/sim/sim_clock.h"
#include "platform/win32/gdi_canvas.h"
#include "platform/win32/win32_power.h"
#include "platform/win32/win32_service_manager.h"
#include "platform/win32/win32_threads.h"
#include "platform/win32/win32_wave_device.h"
#include "platform/win32/win32_window_host.h"

// After windows.h.
#include <aclapi.h>

namespace velmora {
namespace {

TEST(Win32MessagesTest, TranslatedAsTheHandlerExpects) {
  struct Case {
    UINT message;
    WPARAM wParam;
    bool handled;
    WindowEvent event;
    uint32_t key;
  };
  for (const Case& c : std::initializer_list<Case>{
           {WM_CREATE, 0, true, WindowEvent::kCreate, 0},
           {WM_DESTROY, 0, true, WindowEvent::kDestroy, 0},
           {WM_SETFOCUS, 0, true, WindowEvent::kSetFocus, 0},
           {WM_KILLFOCUS, 0, true, WindowEvent::kKillFocus, 0},
           {WM_PAINT, 0, true, WindowEvent::kPaint, 0},
           {WM_CLOSE, 0, true, WindowEvent::kClose, 0},
           {WM_KEYDOWN, VK_RETURN, true, WindowEvent::kKeyDown, kVkReturn},
           {WM_KEYDOWN, VK_ESCAPE, true, WindowEvent::kKeyDown, kVkEscape},
           {WM_SYSKEYDOWN, VK_SPACE, true, WindowEvent::kSysKeyDown, kVkSpace},
           {WM_KEYDOWN, VK_LEFT, true, WindowEvent::kKeyDown, kVkLeft},
           {WM_KEYDOWN, VK_DOWN, true, WindowEvent::kKeyDown, kVkDown},
           {WM_TIMER, 0x7FFF, true, WindowEvent::kTimer, 0x7FFF},
           {WM_MOUSEMOVE, 0, true, WindowEvent::kMouseMove, 0},
           {WM_LBUTTONDOWN, 0, true, WindowEvent::kLButtonDown, 0},
           {WM_RBUTTONDOWN, 0, true, WindowEvent::kRButtonDown, 0},
           {WM_KEYUP, VK_RETURN, false, {}, 0},
           {WM_CHAR, 'a', false, {}, 0},
           {WM_MOVE, 0, false, {}, 0},
           {MM_WOM_OPEN, 0, false, {}, 0},
       }) {
    WindowMessage m{WindowEvent::kCreate, 99};
    EXPECT_EQ(TranslateWindowMessage(c.message, c.wParam, 0, m), c.handled) << c.message;
    if (!c.handled) continue;
    EXPECT_EQ(m.event, c.event) << c.message;
    EXPECT_EQ(m.key, c.key) << c.message;
  }
  // The wave notices keep the numbers the handler knows them by.
  EXPECT_EQ(static_cast<UINT>(WindowEvent::kWaveDone), static_cast<UINT>(MM_WOM_DONE));
  EXPECT_EQ(static_cast<UINT>(WindowEvent::kWaveClose), static_cast<UINT>(MM_WOM_CLOSE));
}

TEST(Win32MessagesTest, BoxStyles) {
  EXPECT_EQ(MessageBoxStyle(BoxIcon::kNone), static_cast<UINT>(MB_OK));
  EXPECT_EQ(MessageBoxStyle(BoxIcon::kInformation), static_cast<UINT>(MB_OK | 0x40));
  EXPECT_EQ(MessageBoxStyle(BoxIcon::kWarning), static_cast<UINT>(MB_OK | MB_ICONWARNING));
  EXPECT_EQ(MessageBoxStyle(BoxIcon::kError), static_cast<UINT>(MB_OK | MB_ICONERROR));
}

// A real window: creation inside the call, posted keys through the loop, the
// timer with its identifier, and the quit code.
TEST(Win32WindowTest, CreationKeysTimerAndQuit) {
  GdiCanvas canvas(288, 272);
  Win32WindowHost host(GetModuleHandleA(nullptr), canvas);
  std::vector<WindowMessage> seen;
  HWND duringCreate = nullptr;
  const bool created =
      host.CreateMainWindow("VelmoraSystem 132", 288, 272, [&](const WindowMessage& m) -> intptr_t {
        seen.push_back(m);
        if (m.event == WindowEvent::kCreate) {
          duringCreate = host.Window();
          host.StartTimer(0x7FFF, 20);
        }
        if (m.event == WindowEvent::kTimer) {
          host.StopTimer(0x7FFF);
          PostMessageA(host.Window(), WM_KEYDOWN, VK_RETURN, 0);
        }
        if (m.event == WindowEvent::kKeyDown && m.key == kVkReturn) host.PostQuit(3);
        return 0;
      });
  ASSERT_TRUE(created);
  ASSERT_NE(host.Window(), nullptr);
  EXPECT_EQ(duringCreate, host.Window());
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front().event, WindowEvent::kCreate);  // the first message handled
  EXPECT_FALSE(IsWindowVisible(host.Window()));         // hidden until shown

  char title[64] = {};
  GetWindowTextA(host.Window(), title, sizeof title);
  EXPECT_STREQ(title, "VelmoraSystem 132");
  char className[64] = {};
  GetClassNameA(host.Window(), className, sizeof className);
  EXPECT_STREQ(className, "Velmora");
  const LONG style = GetWindowLongA(host.Window(), GWL_STYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  RECT outer{};
  GetWindowRect(host.Window(), &outer);
  EXPECT_EQ(outer.right - outer.left, 288);
  EXPECT_EQ(outer.bottom - outer.top, 272);

  host.Show();
  EXPECT_TRUE(IsWindowVisible(host.Window()));
  EXPECT_EQ(host.RunMessageLoop(), 3);
  int timers = 0, returns = 0, paints = 0;
  for (const WindowMessage& m : seen) {
    timers += m.event == WindowEvent::kTimer && m.key == 0x7FFF;
    returns += m.event == WindowEvent::kKeyDown && m.key == kVkReturn;
    paints += m.event == WindowEvent::kPaint;
  }
  EXPECT_EQ(timers, 1);
  EXPECT_EQ(returns, 1);
  EXPECT_GE(paints, 1);  // Show paints at once
  DestroyWindow(host.Window());
}

TEST(Win32WindowTest, RefusedCreationLeavesNoWindow) {
  GdiCanvas canvas(288, 272);
  Win32WindowHost host(GetModuleHandleA(nullptr), canvas);
  int calls = 0;
  EXPECT_FALSE(
      host.CreateMainWindow("VelmoraSystem 132", 288, 272, [&](const WindowMessage&) -> intptr_t {
        ++calls;
        return -1;
      }));
  EXPECT_EQ(host.Window(), nullptr);
  EXPECT_EQ(calls, 1);  // nothing after the refused creation reaches the handler
}

// Passes the drawing on without its text (the GDI font and the software
// canvas's differ) and either without the lines of wide pens, or with only
// the wide lines of one colour.
class Filtered final : public Canvas {
 public:
  enum Keep { kAllButWideLines, kWideLinesOnly };
  Filtered(Canvas& inner, Keep keep, Color wideColor = {})
      : inner_(inner), keep_(keep), wideColor_(wideColor) {}
  void SelectPen(Color c, int w) override {
    penWidth_ = w;
    penColor_ = c;
    inner_.SelectPen(c, w);
  }
  void SelectBrush(Color c) override { inner_.SelectBrush(c); }
  void Rectangle(int l, int t, int r, int b) override {
    if (keep_ == kAllButWideLines) inner_.Rectangle(l, t, r, b);
  }
  void MoveTo(int x, int y) override { inner_.MoveTo(x, y); }
  void LineTo(int x, int y) override {
    const bool wide = penWidth_ > 1;
    if (keep_ == kAllButWideLines ? !wide : wide && penColor_ == wideColor_) {
      inner_.LineTo(x, y);
    } else {
      inner_.MoveTo(x, y);
    }
  }
  void SetTextColor(Color c) override { inner_.SetTextColor(c); }
  void TextOut(int, int, std::string_view) override {}
  void BeginPaint() override { inner_.BeginPaint(); }
  void CopyToWindow(int x, int y, int w, int h) override { inner_.CopyToWindow(x, y, w, h); }
  void WindowLine(Color c, int x0, int y0, int x1, int y1) override {
    inner_.WindowLine(c, x0, y0, x1, y1);
  }
  void EndPaint() override { inner_.EndPaint(); }

 private:
  Canvas& inner_;
  Keep keep_;
  Color wideColor_;
  int penWidth_ = 1;
  Color penColor_{};
};

// The painter's drawing of one night on both canvases, filtered.
struct TwoCanvases {
  TwoCanvases(int32_t remCount, int32_t timePlus, int32_t moonFactor, Filtered::Keep keep,
              Color wideColor = {}) {
    Filtered gdiPart(gdi, keep, wideColor), rasterPart(raster, keep, wideColor);
    for (SharedState* s : {&gdiState, &rasterState}) {
      s->remCount = remCount;
      s->timePlus = timePlus;
      s->moonFactor = moonFactor;
      BuildNightPlan(*s);
    }
    SimClock clock(0);
    PaintWindow(gdiState, CreateDrawingObjects(gdiPart), gdiPart, clock, nullptr);
    PaintWindow(rasterState, CreateDrawingObjects(rasterPart), rasterPart, clock, nullptr);
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) gdiPixels[y][x] = gdi.BitmapPixel(x, y);
    }
  }
  Color Gdi(int x, int y) const { return gdiPixels[y][x]; }
  Color Raster(int x, int y) const { return raster.Bitmap().ColorAt(x, y); }

  static constexpr int kWidth = 288, kHeight = 272;
  GdiCanvas gdi{kWidth, kHeight};
  RasterCanvas raster{kWidth, kHeight, nullptr};
  SharedState gdiState, rasterState;
  std::vector<std::vector<Color>> gdiPixels{kHeight, std::vector<Color>(kWidth)};
};

struct Night {
  const char* name;
  int32_t remCount, timePlus, moonFactor;
};
constexpr Night kNights[] = {
    {"default night", 6, 0, 1}, {"short night", 2, 0, 8}, {"long night", 7, 6, 1}};

// Rectangles, bands, hour lines and every 1-pixel rule: pixel for pixel.
TEST(GdiCanvasTest, PaintsTheSamePixelsAsTheSoftwareCanvas) {
  for (const Night& n : kNights) {
    const TwoCanvases c(n.remCount, n.timePlus, n.moonFactor, Filtered::kAllButWideLines);
    int differing = 0, firstX = -1, firstY = -1;
    for (int y = 0; y < TwoCanvases::kHeight; ++y) {
      for (int x = 0; x < TwoCanvases::kWidth; ++x) {
        if (c.Gdi(x, y) == c.Raster(x, y)) continue;
        if (differing++ == 0) firstX = x, firstY = y;
      }
    }
    EXPECT_EQ(differing, 0) << n.name << ": first at " << firstX << "," << firstY;
  }
}

// The 2-pixel curves, each alone: GDI draws wide lines as shapes of its own,
// so a pixel may sit one step away, but every pixel of the curve has a pixel
// of the same colour within one step on the other canvas.
TEST(GdiCanvasTest, WideCurvesWithinOnePixelOfTheSoftwareCanvas) {
  const Color yellow63{254, 254, 1}, cyan63{1, 254, 254};
  for (const auto& [n, curve] : {std::pair{kNights[0], yellow63}, std::pair{kNights[0], cyan63},
                                 std::pair{kNights[1], yellow63}, std::pair{kNights[1], cyan63},
                                 std::pair{kNights[2], yellow63}, std::pair{kNights[2], cyan63}}) {
    const TwoCanvases c(n.remCount, n.timePlus, n.moonFactor, Filtered::kWideLinesOnly, curve);
    auto hasNeighbour = [](auto pixelOf, int x, int y, Color color) {
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= TwoCanvases::kWidth || ny >= TwoCanvases::kHeight) continue;
          if (pixelOf(nx, ny) == color) return true;
        }
      }
      return false;
    };
    const Color background = c.Raster(0, 0);
    int curvePixels = 0, unmatched = 0;
    for (int y = 0; y < TwoCanvases::kHeight; ++y) {
      for (int x = 0; x < TwoCanvases::kWidth; ++x) {
        const Color g = c.Gdi(x, y), r = c.Raster(x, y);
        curvePixels += r != background;
        if (g != background &&
            !hasNeighbour([&](int a, int b) { return c.Raster(a, b); }, x, y, g)) {
          ++unmatched;
        }
        if (r != background && !hasNeighbour([&](int a, int b) { return c.Gdi(a, b); }, x, y, r)) {
          ++unmatched;
        }
      }
    }
    EXPECT_GT(curvePixels, 500) << n.name;
    EXPECT_EQ(unmatched, 0) << n.name;
  }
}

TEST(GdiCanvasTest, TransparentTextMarksOnlyItsOwnPixels) {
  GdiCanvas gdi(288, 272);
  const Color grey{66, 66, 66}, yellow{255, 255, 128};
  gdi.SelectBrush(grey);
  gdi.SelectPen(grey, 1);
  gdi.Rectangle(0, 0, 288, 272);
  gdi.SetTextColor(yellow);
  gdi.TextOut(12, 16, "STATE");
  int inColour = 0, outside = 0;
  for (int y = 0; y < 272; ++y) {
    for (int x = 0; x < 288; ++x) {
      const Color c = gdi.BitmapPixel(x, y);
      if (c == grey) continue;
      const bool inBox = x >= 12 && x < 80 && y >= 16 && y < 40;
      inColour += inBox && c == yellow;
      outside += !inBox;
    }
  }
  EXPECT_GT(inColour, 20);  // the glyphs are there, in the text colour
  EXPECT_EQ(outside, 0);    // and the background around them was left as it was
}

TEST(Win32WaveDeviceTest, EachBlockIsALoopPlayedOnceInPlace) {
  GdiCanvas canvas(288, 272);
  Win32WindowHost host(GetModuleHandleA(nullptr), canvas);
  Win32WaveDevice device(host);
  std::array<std::atomic<uint64_t>, 4> words{};
  std::array<WaveHeader, kRingBlocks + 1> blocks{};
  for (WaveHeader& block : blocks) {
    block.data = words.data();
    block.bufferLength = 32;
  }
  for (int i = 0; i < kRingBlocks; ++i) {
    WAVEHDR* h = device.SystemHeader(blocks[i]);
    ASSERT_NE(h, nullptr) << i;
    EXPECT_EQ(h->dwFlags, static_cast<DWORD>(WHDR_BEGINLOOP | WHDR_ENDLOOP)) << i;
    EXPECT_EQ(h->dwLoops, 1u) << i;
    EXPECT_EQ(h->lpData, reinterpret_cast<LPSTR>(words.data())) << i;
    EXPECT_EQ(h->dwBufferLength, 32u) << i;
    EXPECT_EQ(device.SystemHeader(blocks[i]), h) << i;  // one header per block, kept
  }
  EXPECT_EQ(device.SystemHeader(blocks[kRingBlocks]), nullptr);  // the ring has sixteen
}

// A fake WinMM layer: every call recorded, the answers of open, write and
// close set by the test, handles numbered from 1 and reused as a system may
// (the lowest free one), a header's done flag kept as WinMM keeps it, and a
// clock the test moves.
namespace fake_mm {
std::vector<std::string> calls;
std::vector<MMRESULT> opens;   // the answers of the next opens; then success
std::vector<MMRESULT> closes;  // the answers of the next closes; then success
MMRESULT writeAnswer = MMSYSERR_NOERROR;
std::set<uintptr_t> live;  // open handles
int opened = 0, closed = 0;
int64_t now = 0;
bool record = true;
void Call(const std::string& call) {
  if (record) calls.push_back(call);
}
MMRESULT WINAPI Open(LPHWAVEOUT out, UINT device, LPCWAVEFORMATEX, DWORD_PTR, DWORD_PTR,
                     DWORD flags) {
  Call(device == WAVE_MAPPER && flags == CALLBACK_WINDOW ? "open" : "open?");
  const MMRESULT answer = opens.empty() ? MMSYSERR_NOERROR : opens.front();
  if (!opens.empty()) opens.erase(opens.begin());
  if (answer == MMSYSERR_NOERROR) {
    uintptr_t handle = 1;
    while (live.count(handle) != 0) ++handle;
    live.insert(handle);
    ++opened;
    *out = reinterpret_cast<HWAVEOUT>(handle);
  }
  return answer;
}
MMRESULT WINAPI Prepare(HWAVEOUT, LPWAVEHDR h, UINT) {
  h->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI Write(HWAVEOUT, LPWAVEHDR h, UINT) {
  Call("write");
  if (writeAnswer == MMSYSERR_NOERROR) h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  return writeAnswer;
}
MMRESULT WINAPI Unprepare(HWAVEOUT, LPWAVEHDR h, UINT) {
  h->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI Reset(HWAVEOUT out) {
  Call("reset " + std::to_string(reinterpret_cast<uintptr_t>(out)));
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI Close(HWAVEOUT out) {
  const auto handle = reinterpret_cast<uintptr_t>(out);
  Call("close " + std::to_string(handle));
  const MMRESULT answer = closes.empty() ? MMSYSERR_NOERROR : closes.front();
  if (!closes.empty()) closes.erase(closes.begin());
  if (answer == MMSYSERR_NOERROR && live.erase(handle) == 1) ++closed;
  return answer;
}
int64_t Now() {
  return now;
}
// The driver has played header `h` of handle `out`: it marks it done and
// sends the notice.
void Done(Win32WaveDevice& device, uintptr_t out, WAVEHDR* h) {
  h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  device.OnWaveMessage(MM_WOM_DONE, out, reinterpret_cast<LPARAM>(h));
}
void Clear() {
  calls.clear();
  opens.clear();
  closes.clear();
  live.clear();
  opened = closed = 0;
  now = 0;
  record = true;
}
const WinMm kLayer{&Open, &Prepare, &Write, &Unprepare, &Reset, &Close, &Now};
}  // namespace fake_mm

struct NoticeLog final : WaveNoticeTarget {
  std::vector<std::string> said;
  void OnWaveBlockDone(WaveHeader*) override { said.push_back("done"); }
  void OnWaveClosed() override { said.push_back("closed"); }
  void OnWaveLost(const std::string& reason) override { said.push_back("lost: " + reason); }
  void OnWaveBack() override { said.push_back("back"); }
};

// No device at start, a device that stops handing blocks back, a write that
// fails, a close that fails: each loss is said once, WAVE_MAPPER is opened
// again at the timer's ticks (the system handing out the same handle value
// again), and what a handle given up sends afterwards is not taken for the
// new device's; only velmora's own close is passed on as the close.
TEST(Win32WaveDeviceTest, LostFoundAndReopenedOnceASecond) {
  GdiCanvas canvas(288, 272);
  Win32WindowHost host(GetModuleHandleA(nullptr), canvas);
  fake_mm::Clear();
  fake_mm::opens = {MMSYSERR_NODRIVER, MMSYSERR_NODRIVER};
  Win32WaveDevice device(host, fake_mm::kLayer);
  NoticeLog target;
  WaveHeader block;
  std::array<std::atomic<uint64_t>, 4> words{};
  block.data = words.data();
  block.bufferLength = 32;
  std::string why;
  EXPECT_FALSE(device.Open(WaveFormat{}, target, why));
  EXPECT_EQ(why, "wave output error " + std::to_string(MMSYSERR_NODRIVER));
  WAVEHDR* ours = device.SystemHeader(block);
  struct Step {
    const char* what;
    int64_t atMs;
    std::vector<std::string> calls, said;
  };
  for (const Step& step : std::vector<Step>{
           {"write", 0, {}, {}},  // no device: nothing reaches WinMM
           {"tick", 1000, {"open"}, {}},
           {"tick", 2000, {"open"}, {"back"}},
           {"write", 2000, {"write"}, {}},
           {"done", 3000, {}, {"done"}},
           {"done", 3000, {}, {}},  // said twice: the block came back once
           {"write", 3000, {"write"}, {}},
           {"tick", 5900, {}, {}},
           {"tick", 6000, {"reset 1", "close 1"}, {"lost: no block came back for 3 s"}},
           {"done", 6000, {}, {}},              // the reset's blocks: not played
           {"close 1", 6000, {}, {}},           // the close of a lost device: not velmora's
           {"tick", 7000, {"open"}, {"back"}},  // handle 1 again
           {"done", 7000, {}, {}},              // a late notice of the old handle 1: not in flight
           {"write", 7000, {"write"}, {}},
           {"late done", 7000, {}, {}},  // written again, not done: the old handle's
           {"done", 7500, {}, {"done"}},
           {"fail writes", 7500, {"write"}, {}},
           {"fail close",
            8000,
            {"reset 1", "close 1", "reset 1", "close 1"},  // reset again, then closed
            {"lost: a block could not be written"}},
           {"tick", 9000, {"open"}, {"back"}},
           {"close", 9000, {"reset 1", "close 1"}, {}},
           {"close 1", 9000, {}, {"closed"}},  // velmora's own close keeps its meaning
           {"close 1", 9000, {}, {}},          // once
           {"tick", 10000, {}, {}},            // closed: no reopen
       }) {
    fake_mm::calls.clear();
    target.said.clear();
    fake_mm::now = step.atMs;
    const std::string what = step.what;
    if (what == "write") device.Write(block);
    if (what == "fail writes") {
      fake_mm::writeAnswer = MMSYSERR_NODRIVER;
      device.Write(block);
      fake_mm::writeAnswer = MMSYSERR_NOERROR;
    }
    if (what == "fail close") {
      fake_mm::closes = {WAVERR_STILLPLAYING};
      device.OnWaveTimer();
    }
    if (what == "tick") device.OnWaveTimer();
    if (what == "close") device.Close();
    if (what == "done") fake_mm::Done(device, 1, ours);
    if (what == "late done") device.OnWaveMessage(MM_WOM_DONE, 1, reinterpret_cast<LPARAM>(ours));
    if (what.rfind("close ", 0) == 0) device.OnWaveMessage(MM_WOM_CLOSE, 1, 0);
    EXPECT_EQ(fake_mm::calls, step.calls) << what << " at " << step.atMs;
    EXPECT_EQ(target.said, step.said) << what << " at " << step.atMs;
  }
  EXPECT_EQ(device.CloseFailures(), 1);
  EXPECT_EQ(fake_mm::opened, fake_mm::closed);
}

// A device that flaps a thousand times (opens, plays a block, then hands
// none back): each handle opened is closed, every block that came back is
// one written to the handle of its time, and the headers are prepared for
// each new handle.
TEST(Win32WaveDeviceTest, AThousandFlapsCloseEveryHandle) {
  GdiCanvas canvas(288, 272);
  Win32WindowHost host(GetModuleHandleA(nullptr), canvas);
  fake_mm::Clear();
  fake_mm::record = false;
  Win32WaveDevice device(host, fake_mm::kLayer);
  NoticeLog target;
  std::array<WaveHeader, 2> blocks;
  std::array<std::array<std::atomic<uint64_t>, 4>, 2> words{};
  for (size_t i = 0; i < blocks.size(); ++i) {
    blocks[i].data = words[i].data();
    blocks[i].bufferLength = 32;
  }
  std::string why;
  ASSERT_TRUE(device.Open(WaveFormat{}, target, why));
  int done = 0;
  for (int flap = 0; flap < 1000; ++flap) {
    for (WaveHeader& b : blocks) {
      device.Prepare(b);
      ASSERT_TRUE(b.prepared) << flap;
      ASSERT_NE(device.SystemHeader(b)->dwFlags & WHDR_PREPARED, 0u) << flap;
      device.Write(b);
    }
    fake_mm::Done(device, 1, device.SystemHeader(blocks[0]));
    fake_mm::now += 3000;
    device.OnWaveTimer();                                      // block 1 never came back: lost
    fake_mm::Done(device, 1, device.SystemHeader(blocks[1]));  // the reset's: not played
    fake_mm::now += 1000;
    device.OnWaveTimer();  // back
    done = static_cast<int>(std::count(target.said.begin(), target.said.end(), "done"));
    ASSERT_EQ(done, flap + 1);
  }
  device.Close();
  EXPECT_EQ(fake_mm::opened, 1001);
  EXPECT_EQ(fake_mm::opened, fake_mm::closed);
  EXPECT_TRUE(fake_mm::live.empty());
}

// The execution-state calls, recorded in order.
std::vector<EXECUTION_STATE> executionStates;
EXECUTION_STATE answer = ES_CONTINUOUS;
EXECUTION_STATE WINAPI RecordExecutionState(EXECUTION_STATE state) {
  executionStates.push_back(state);
  return answer;
}

TEST(Win32PowerTest, SystemRequiredWhileHeldThenContinuousAlone) {
  struct Case {
    EXECUTION_STATE answer;  // what the system answers; 0: refused
    bool held;
    std::vector<EXECUTION_STATE> calls;  // hold, hold again, release, release again
  };
  for (const Case& c : std::initializer_list<Case>{
           {ES_CONTINUOUS, true, {ES_CONTINUOUS | ES_SYSTEM_REQUIRED, ES_CONTINUOUS}},
           {0, false, {ES_CONTINUOUS | ES_SYSTEM_REQUIRED, ES_CONTINUOUS | ES_SYSTEM_REQUIRED}},
       }) {
    executionStates.clear();
    answer = c.answer;
    Win32Power power(&RecordExecutionState);
    std::string why;
    EXPECT_EQ(power.Hold(why), c.held);
    EXPECT_EQ(power.Hold(why), c.held);
    EXPECT_EQ(why.empty(), c.held);
    power.Release();
    power.Release();
    EXPECT_EQ(executionStates, c.calls);
    // Never the display: the screen may sleep.
    for (EXECUTION_STATE s : executionStates) EXPECT_EQ(s & ES_DISPLAY_REQUIRED, 0u);
  }
  // The real call under Wine answers a state, so a hold succeeds.
  Win32Power real;
  std::string why;
  EXPECT_TRUE(real.Hold(why)) << why;
  real.Release();
}

TEST(Win32ThreadsTest, RunsTheEntryOnASmallStack) {
  Win32Threads threads;
  static std::atomic<int> ran{0};
  void* handle = threads.Start(
      [](void* arg) {
        Win32Threads().SetCurrentThreadPriority(ThreadPriority::kHighest);
        ran = *static_cast<int*>(arg);
      },
      new int(7), 4096);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(WaitForSingleObject(static_cast<HANDLE>(handle), 10000), WAIT_OBJECT_0);
  EXPECT_EQ(ran.load(), 7);
  CloseHandle(static_cast<HANDLE>(handle));
}

TEST(Win32ServiceManagerTest, QueriesOfThePortAccessSetUp) {
  Win32ServiceManager manager;
  // Wine, like every Windows it stands for, is of the NT family.
  EXPECT_EQ(manager.PlatformId(), std::optional<uint32_t>(kPlatformWin32Nt));

  char directory[MAX_PATH];
  ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, directory), 0u);
  const std::string full = manager.FullPathName("giveio.sys");
  EXPECT_EQ(full, std::string(directory) + (directory[strlen(directory) - 1] == '\\' ? "" : "\\") +
                      "giveio.sys");

  const std::string file = std::string(directory) + "\\velmora-test-file.sys";
  EXPECT_FALSE(manager.FileExists(file));
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(manager.FileExists(file));
  DeleteFileA(file.c_str());
  EXPECT_FALSE(manager.FileExists(directory));  // a directory is not a driver file

  // No giveio driver runs here: its device does not open, and says why.
  EXPECT_EQ(manager.OpenDevice("\\\\.\\giveio", kGenericRead), nullptr);
  EXPECT_NE(manager.LastError(), 0u);
}

// The real permissions of a folder and a driver file of the test's own, as
// the check reads them.
TEST(Win32ServiceManagerTest, ThePermissionsOfAFileOfItsOwn) {
  Win32ServiceManager manager;
  char temp[MAX_PATH];
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  const std::string folder =
      std::string(temp) + "velmora-giveio-" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string file = folder + "\\giveio.sys";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  const std::string self = manager.ProcessUserSid();
  EXPECT_EQ(self.rfind("S-1-5-", 0), 0u) << self;
  for (const std::string& path : {folder, file}) {
    const FileSecurity security = manager.Security(path);
    std::string seen = path + ": owner " + security.ownerAccount + " (" + security.ownerSid + ")";
    for (const AccessEntry& e : security.allowed) {
      char mask[16];
      std::snprintf(mask, sizeof mask, "%08lx", static_cast<unsigned long>(e.mask));
      seen +=
          "; " + e.account + " (" + e.sid + ") " + mask + (e.inheritOnly ? " inherit-only" : "");
    }
    std::printf("%s%s\n", seen.c_str(), security.noDacl ? "; no permissions" : "");
    EXPECT_TRUE(security.readable) << path << ": " << security.why;
    EXPECT_FALSE(security.ownerSid.empty()) << seen;
  }
  // Wine gives every file the same permissions (its owner, the user, and
  // SYSTEM may do everything, Everyone may read): the check accepts them.
  EXPECT_EQ(DriverFileRefusal(manager, file, "giveio.sys"), "");
  // Everyone given the right to write the file: refused, by the entry read.
  EXPLICIT_ACCESSA grant{};
  char everyone[] = "EVERYONE";
  grant.grfAccessPermissions = FILE_WRITE_DATA;
  grant.grfAccessMode = GRANT_ACCESS;
  grant.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
  grant.Trustee.ptstrName = everyone;
  PACL old = nullptr, changed = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &old, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_EQ(SetEntriesInAclA(1, &grant, old, &changed), static_cast<DWORD>(ERROR_SUCCESS));
  const DWORD set =
      SetNamedSecurityInfoA(const_cast<char*>(file.c_str()), SE_FILE_OBJECT,
                            DACL_SECURITY_INFORMATION, nullptr, nullptr, changed, nullptr);
  LocalFree(changed);
  LocalFree(descriptor);
  ASSERT_EQ(set, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_NE(DriverFileRefusal(manager, file, "giveio.sys")
                .find("giveio.sys can be changed by other users (Everyone may write " + file + ")"),
            std::string::npos);
  const FileSecurity missing = manager.Security(folder + "\\none\\giveio.sys");
  EXPECT_FALSE(missing.readable);
  EXPECT_FALSE(missing.why.empty());
  EXPECT_NE(DriverFileRefusal(manager, folder + "\\none\\giveio.sys", "giveio.sys")
                .find("cannot be read"),
            std::string::npos);
  DeleteFileA(file.c_str());
  RemoveDirectoryA(folder.c_str());
}

}  // namespace
}  // namespace velmora
