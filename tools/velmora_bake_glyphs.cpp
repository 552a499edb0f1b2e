// velmora-bake-glyphs: writes the window's letters (DejaVu Sans Bold at the
// window's size, printable ASCII) as FreeType draws them on the desktop, as a
// C++ table for the web build, which has no FreeType and ships no font file.
//
//   velmora-bake-glyphs [--out FILE]     (default: standard output)
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/freetype/freetype_text.h"
#include "platform/web/baked_text.h"

int main(int argc, char** argv) {
  std::string out;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      out = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::printf("usage: velmora-bake-glyphs [--out FILE]\n");
      return 0;
    } else {
      std::fprintf(stderr, "velmora-bake-glyphs: unknown argument %s (try --help)\n", argv[i]);
      return 2;
    }
  }
  velmora::FreeTypeText text;
  if (!text.Ready()) return 1;
  std::FILE* f = out.empty() ? stdout : std::fopen(out.c_str(), "w");
  if (f == nullptr) {
    std::fprintf(stderr, "velmora-bake-glyphs: cannot write %s\n", out.c_str());
    return 1;
  }
  std::fprintf(f,
               "// Made by velmora-bake-glyphs from DejaVu Sans Bold; do not edit.\n"
               "// {left, top, width, rows, advance (26.6), first coverage byte}\n"
               "constexpr int kBakedAscent = %d;\n"
               "constexpr BakedGlyph kBakedGlyphs[] = {\n",
               text.Ascent());
  std::string coverage;
  for (char32_t c = velmora::kFirstBaked; c <= velmora::kLastBaked; ++c) {
    velmora::GlyphImage g;
    if (!text.Render(c, g)) g = {};
    // A backslash would carry the comment on to the next line.
    const std::string shown =
        c == '\\' ? "backslash" : std::string("'") + static_cast<char>(c) + "'";
    std::fprintf(f, "    {%d, %d, %d, %d, %ld, %zu},  // %s\n", g.left, g.top, g.width, g.rows,
                 g.advance, coverage.size(), shown.c_str());
    coverage.append(reinterpret_cast<const char*>(g.coverage),
                    static_cast<size_t>(g.width) * g.rows);
  }
  std::fprintf(f, "};\nconstexpr unsigned char kBakedCoverage[] = {");
  for (size_t i = 0; i < coverage.size(); ++i) {
    std::fprintf(f, "%s%u,", i % 20 == 0 ? "\n    " : "", static_cast<unsigned char>(coverage[i]));
  }
  std::fprintf(f, "\n};\n");
  return (f == stdout ? std::fflush(f) : std::fclose(f)) == 0 ? 0 : 1;
}
