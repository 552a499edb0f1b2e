// FreeTypeText: text for the software canvas from a TrueType font through
// FreeType (DejaVu Sans Bold from Debian's fonts-dejavu-core, or the file
// named by VELMORA_FONT), anti-aliased and hinted. The window and
// velmora-plan's chart draw through it, so both show the same letters.
// Window thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/raster/raster_canvas.h"

namespace velmora {

class FreeTypeText final : public TextRenderer {
 public:
  // Opens the font; on failure says why once on stderr and draws no text.
  // 10 px: at 11 px the bold "POWER", drawn twice, reaches to 1 px of its value.
  explicit FreeTypeText(int pixelSize = 10);
  ~FreeTypeText() override;
  FreeTypeText(const FreeTypeText&) = delete;
  FreeTypeText& operator=(const FreeTypeText&) = delete;

  bool Ready() const { return face_ != nullptr; }
  const std::string& Path() const { return path_; }
  void Draw(Raster& raster, int x, int y, Color color, std::string_view text) override;
  // The glyph of `c` as Draw draws it, valid until the next call; false when
  // the font cannot load it (Draw then skips it without advancing).
  bool Render(char32_t c, GlyphImage& glyph);
  int Ascent() const { return ascent_; }

  static constexpr const char* kDefaultFont =
      "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

 private:
  void* library_ = nullptr;  // FT_Library
  void* face_ = nullptr;     // FT_Face
  int ascent_ = 0;           // pixels from the top of the line to the baseline
  std::string path_;
  std::vector<uint8_t> packed_;  // the last glyph's coverage
};

}  // namespace velmora
