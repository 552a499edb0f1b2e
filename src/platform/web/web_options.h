// The option words of the page's address. They mean what they mean on the
// command line, but for light mode ("!"): a browser has no port and no
// light box, so those words are left out and the page says so.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

inline constexpr const char* kNoLightsLine =
    "Light mode needs a parallel port or a light box, which a browser cannot reach: "
    "velmora plays sound instead.";

struct WebWords {
  std::vector<std::string> words;
  bool lightAsked = false;
};

// Splits `text` at white space; light-mode words are dropped and noted.
inline WebWords ReadWebWords(std::string_view text) {
  WebWords out;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    size_t end = i;
    while (end < text.size() && text[end] != ' ' && !(text[end] >= '\t' && text[end] <= '\r')) {
      ++end;
    }
    if (end > i) {
      if (text[i] == '!') {
        out.lightAsked = true;
      } else {
        out.words.emplace_back(text.substr(i, end - i));
      }
    }
    i = end;
  }
  return out;
}

}  // namespace velmora
