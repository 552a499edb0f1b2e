// The browser's page: the window's picture. The page's instance paints the
// shared state as the audio thread's snapshots give it, with the desktop's
// painter on the software canvas and the desktop's letters (BakedText), and
// hands the window's pixels to the page's script for its <canvas>. Before
// the sound starts it paints the plan of the option words itself.
#include <array>
#include <cstring>
#include <string>

#include "app/options.h"
#include "app/state_snapshot.h"
#include "display/painter.h"
#include "plan/moon.h"
#include "plan/night_plan.h"
#include "platform/raster/raster_canvas.h"
#include "platform/web/baked_text.h"
#include "platform/web/web_bridge.h"
#include "platform/web/web_clock.h"
#include "platform/web/web_options.h"

extern "C" {
// The window's pixels, RGBA, `width` x `height`, for the page's canvas.
VELMORA_WEB_IMPORT(blit) void velmora_blit(const uint8_t* rgba, int32_t width, int32_t height);
// The warning box's text (the page shows it as a line).
VELMORA_WEB_IMPORT(box)
void velmora_box(const char* caption, int32_t captionLength, const char* text, int32_t textLength,
                 int32_t icon);
}

namespace velmora {
namespace {

// The painter's host: only its warning box is of use on the page.
class PageHost final : public WindowHost {
 public:
  bool CreateMainWindow(const std::string&, int, int, Handler) override { return true; }
  void Show() override {}
  int RunMessageLoop() override { return 0; }
  void Invalidate() override {}
  void StartTimer(uint32_t, int) override {}
  void StopTimer(uint32_t) override {}
  void ShowMessageBox(const std::string& caption, const std::string& text, BoxIcon icon) override {
    velmora_box(caption.data(), static_cast<int32_t>(caption.size()), text.data(),
                static_cast<int32_t>(text.size()), static_cast<int32_t>(icon));
  }
  void ShowWarningBox(const std::string& caption, const std::string& text) override {
    ShowMessageBox(caption, text, BoxIcon::kWarning);
  }
  void PostQuit(int) override {}
  void DefaultProcessing(const WindowMessage&) override {}
};

struct Page {
  SharedState state;
  WebClock clock;
  BakedText text;
  RasterCanvas canvas{chartLayout.windowWidth, chartLayout.windowHeight, &text};
  DrawingObjects drawing = CreateDrawingObjects(canvas);
  PageHost host;
  StateSnapshot incoming{};
  std::vector<uint8_t> rgba = std::vector<uint8_t>(static_cast<size_t>(chartLayout.windowWidth) *
                                                   chartLayout.windowHeight * 4);
  std::vector<uint32_t> shown;  // the window's pixels last handed to the canvas
};

Page* page = nullptr;
char words[2048];

void Paint() {
  PaintWindow(page->state, page->drawing, page->canvas, page->clock, &page->host);
  const std::vector<uint32_t>& pixels = page->canvas.Window().Pixels();
  // Most snapshots change nothing the eye sees (between the cursor's blinks
  // and the rows' steps): the canvas, and the browser's compositing, are
  // left alone then.
  if (pixels == page->shown) return;
  page->shown = pixels;
  for (size_t i = 0; i < pixels.size(); ++i) {
    page->rgba[4 * i] = static_cast<uint8_t>(pixels[i] >> 16);
    page->rgba[4 * i + 1] = static_cast<uint8_t>(pixels[i] >> 8);
    page->rgba[4 * i + 2] = static_cast<uint8_t>(pixels[i]);
    page->rgba[4 * i + 3] = 255;
  }
  velmora_blit(page->rgba.data(), chartLayout.windowWidth, chartLayout.windowHeight);
}

}  // namespace
}  // namespace velmora

// The option words, as the page's address gives them (zero-terminated).
VELMORA_WEB_EXPORT(velmora_page_words) char* velmora_page_words() {
  return velmora::words;
}

// The picture before the sound: the moon, the words and the plan they give,
// painted whole. Returns 1 when a light-mode word was left out.
VELMORA_WEB_EXPORT(velmora_page_start) int32_t velmora_page_start() {
  using namespace velmora;
  delete page;
  page = new Page;
  const WebWords read = ReadWebWords(velmora::words);
  ComputeMoonFactor(page->state, page->clock);
  ReadOptions(page->state, read.words);
  BuildNightPlan(page->state);
  // The start-up picture, as velmora-plan --chart draws it: the healing
  // pattern's label alone.
  page->state.stateText.Set("HealingGamma");
  page->state.sleepRunning = 0;
  for (auto& flag : page->state.repaintFlags) flag = 1;
  page->state.repaintFlags[kRepaintWarning] = 0;
  Paint();
  return read.lightAsked ? 1 : 0;
}

// Where the script puts a snapshot from the audio thread, and its size.
VELMORA_WEB_EXPORT(velmora_page_snapshot) void* velmora_page_snapshot() {
  return velmora::page ? &velmora::page->incoming : nullptr;
}
VELMORA_WEB_EXPORT(velmora_page_snapshot_size) int32_t velmora_page_snapshot_size() {
  return sizeof(velmora::StateSnapshot);
}

// Takes the snapshot put there and paints what it asks for.
VELMORA_WEB_EXPORT(velmora_page_apply) void velmora_page_apply() {
  if (!velmora::page) return;
  velmora::ApplySnapshot(velmora::page->incoming, velmora::page->state);
  velmora::Paint();
}

// The whole picture again (the canvas was made anew).
VELMORA_WEB_EXPORT(velmora_page_repaint) void velmora_page_repaint() {
  if (!velmora::page) return;
  velmora::page->state.repaintFlags[velmora::kRepaintCopyAll] = 1;
  velmora::page->shown.clear();
  velmora::Paint();
}

// What the page shows of the night, for its script: the played clock (ms),
// whether a night runs (the plan's keys wait for its end), the night's start (s) and the STATE
// row's label.
VELMORA_WEB_EXPORT(velmora_page_played_ms) double velmora_page_played_ms() {
  return velmora::page ? static_cast<double>(velmora::page->state.playedMs.Load()) : 0.0;
}
VELMORA_WEB_EXPORT(velmora_page_in_night) int32_t velmora_page_in_night() {
  if (!velmora::page) return 0;
  const velmora::SharedState& s = velmora::page->state;
  return s.healingMode == 1 && s.cycleIndex > s.remCount ? 0 : 1;
}
VELMORA_WEB_EXPORT(velmora_page_start_time) int32_t velmora_page_start_time() {
  return velmora::page ? velmora::page->state.startTime.Load() : 0;
}
VELMORA_WEB_EXPORT(velmora_page_state_text) const char* velmora_page_state_text() {
  static std::array<char, velmora::StateText::kCapacity + 1> text;
  if (velmora::page) velmora::page->state.stateText.CopyTo(text);
  return text.data();
}

// The off-screen bitmap (the picture without the window's cursor), as RGBA.
VELMORA_WEB_EXPORT(velmora_page_bitmap) const uint8_t* velmora_page_bitmap() {
  static std::vector<uint8_t> rgba;
  if (!velmora::page) return nullptr;
  const std::vector<uint32_t>& pixels = velmora::page->canvas.Bitmap().Pixels();
  rgba.resize(pixels.size() * 4);
  for (size_t i = 0; i < pixels.size(); ++i) {
    rgba[4 * i] = static_cast<uint8_t>(pixels[i] >> 16);
    rgba[4 * i + 1] = static_cast<uint8_t>(pixels[i] >> 8);
    rgba[4 * i + 2] = static_cast<uint8_t>(pixels[i]);
    rgba[4 * i + 3] = 255;
  }
  return rgba.data();
}
