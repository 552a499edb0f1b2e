#include "platform/sdl/ttf_text.h"

#include <cstdio>
#include <cstdlib>

namespace velmora {

TtfText::TtfText(int pixelSize) {
  const char* custom = std::getenv("VELMORA_FONT");
  path_ = custom && *custom ? custom : kDefaultFont;
  if (TTF_Init() != 0) {
    std::fprintf(stderr, "velmora: no text: %s\n", TTF_GetError());
    return;
  }
  font_ = TTF_OpenFont(path_.c_str(), pixelSize);
  if (!font_) {
    std::fprintf(stderr,
                 "velmora: no text: cannot open the font %s (%s); install fonts-dejavu-core or "
                 "set VELMORA_FONT to a .ttf file\n",
                 path_.c_str(), TTF_GetError());
  }
}

TtfText::~TtfText() {
  if (font_) TTF_CloseFont(font_);
  if (TTF_WasInit()) TTF_Quit();
}

void TtfText::Draw(Raster& raster, int x, int y, Color color, std::string_view text) {
  if (!font_ || text.empty()) return;
  const std::string copy(text);
  SDL_Surface* rendered =
      TTF_RenderUTF8_Blended(font_, copy.c_str(), SDL_Color{255, 255, 255, 255});
  if (!rendered) return;
  SDL_Surface* argb = SDL_ConvertSurfaceFormat(rendered, SDL_PIXELFORMAT_ARGB8888, 0);
  SDL_FreeSurface(rendered);
  if (!argb) return;
  SDL_LockSurface(argb);
  for (int row = 0; row < argb->h; ++row) {
    const auto* line = reinterpret_cast<const Uint32*>(static_cast<const Uint8*>(argb->pixels) +
                                                       row * argb->pitch);
    for (int col = 0; col < argb->w; ++col) {
      raster.Blend(x + col, y + row, color, static_cast<uint8_t>(line[col] >> 24));
    }
  }
  SDL_UnlockSurface(argb);
  SDL_FreeSurface(argb);
}

}  // namespace velmora
