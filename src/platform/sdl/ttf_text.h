// TtfText: text for the software canvas from a TrueType font through SDL2_ttf
// (DejaVu Sans Bold from Debian's fonts-dejavu-core, or the file named by
// VELMORA_FONT). Links SDL2_ttf. Window thread only.
#pragma once

#include <SDL_ttf.h>

#include <string>

#include "display/raster_canvas.h"

namespace velmora {

class TtfText final : public TextRenderer {
 public:
  // Opens the font; on failure says why once on stderr and draws no text.
  explicit TtfText(int pixelSize = 11);
  ~TtfText() override;

  bool Ready() const { return font_ != nullptr; }
  const std::string& Path() const { return path_; }
  void Draw(Raster& raster, int x, int y, Color color, std::string_view text) override;

  static constexpr const char* kDefaultFont =
      "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

 private:
  TTF_Font* font_ = nullptr;
  std::string path_;
};

}  // namespace velmora
