// Splits a fuzz input into arguments at newlines, behind a first argument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::string> SplitLines(const uint8_t* data, size_t size, const char* first,
                                           size_t most = 64) {
  std::vector<std::string> lines(1, first);
  std::string line;
  for (size_t i = 0; i < size && lines.size() < most; ++i) {
    if (data[i] == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(static_cast<char>(data[i]));
    }
  }
  lines.push_back(line);
  return lines;
}
