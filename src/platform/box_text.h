// The texts of the message boxes: on one line for stderr, and broken into
// lines that fit a small screen for the box itself. Any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// The box's characters on a line: 60 of SDL's X11 box font are about 420
// pixels, inside a 640-pixel screen with the box's frame.
inline constexpr size_t kBoxLineChars = 60;

// `text` with its line ends as spaces.
inline std::string OneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (c == '\n') c = ' ';
  }
  return line;
}

// `text` with each line broken at spaces so that none is longer than
// `width` characters; a word longer than that (a path) is broken where the
// line is full. The line ends already in the text stay.
inline std::string WrapLines(std::string_view text, size_t width = kBoxLineChars) {
  std::string out;
  size_t lineStart = 0;  // in `out`
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\n') {
      out += '\n';
      lineStart = out.size();
      ++i;
      continue;
    }
    // The next word, with the spaces before it.
    size_t end = i;
    while (end < text.size() && text[end] == ' ') ++end;
    const size_t spaces = end - i;
    while (end < text.size() && text[end] != ' ' && text[end] != '\n') ++end;
    std::string_view word = text.substr(i + spaces, end - i - spaces);
    if (out.size() > lineStart && out.size() - lineStart + spaces + word.size() > width) {
      out += '\n';
      lineStart = out.size();
    } else {
      out.append(spaces, ' ');
    }
    while (word.size() > width - (out.size() - lineStart)) {
      const size_t room = width - (out.size() - lineStart);
      out.append(word.substr(0, room));
      out += '\n';
      lineStart = out.size();
      word.remove_prefix(room);
    }
    out.append(word);
    i = end;
  }
  return out;
}

}  // namespace velmora
