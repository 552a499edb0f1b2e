#include "app/options.h"

namespace velmora {

uint32_t ParseHex(const char* text) {
  uint32_t value = 0;
  for (;; ++text) {
    const char c = *text;
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return value;
    }
    value = (value << 4) + digit;
  }
}

int32_t ParseDecimal(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  uint32_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10 + static_cast<uint32_t>(*text - '0');
  }
  return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}

void ApplyOptionWord(SharedState& state, const char* word) {
  const auto selector = static_cast<signed char>(word[0]);
  const char* number = word[0] != '\0' ? word + 1 : word;
  switch (selector) {
    case '0': {
      const auto port = static_cast<uint16_t>(ParseHex(word));
      state.lptDataPort = port;
      state.lptControlPort = static_cast<uint16_t>(port + 2);
      break;
    }
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
      state.lptOnPattern = static_cast<int16_t>(selector - '0');
      break;
    case 'a':
    case 'b':
    case 'c':
    case 'd':
    case 'e':
      state.dutyRange = selector - 'a';
      break;
    case ':':
      state.invertedPulse = 1;
      break;
    case '!': {
      // The light level has an upper bound only; the addition wraps like the
      // rest of the 32-bit option arithmetic.
      const auto level = static_cast<int32_t>(static_cast<uint32_t>(ParseDecimal(number)) + 1u);
      state.lightLevel = level > 8 ? 8 : level;
      state.soundMode = 0;
      break;
    }
    case '-': {
      const auto cycles = static_cast<int32_t>(7u - static_cast<uint32_t>(ParseDecimal(number)));
      state.remCount = cycles < 2 ? 2 : cycles;
      break;
    }
    case '+': {
      const int32_t timePlus = ParseDecimal(number);
      state.timePlus = timePlus > 6 ? 6 : timePlus;
      break;
    }
    case '.':
      state.healingMode = 0;
      break;
    case '#':
      state.toneMode = 1;
      break;
    case 'm':
      state.moonFactor = ParseDecimal(number);
      break;
    case 'r':
      state.remCount = ParseDecimal(number);
      break;
    default:
      break;  // unknown words are ignored
  }
}

BoundReport ReadOptions(SharedState& state, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) ApplyOptionWord(state, argv[i]);
  return BoundPlanSettings(state);
}

BoundReport ReadOptions(SharedState& state, const std::vector<std::string>& words) {
  std::vector<const char*> argv{"velmora"};
  for (const std::string& word : words) argv.push_back(word.c_str());
  return ReadOptions(state, static_cast<int>(argv.size()), argv.data());
}

}  // namespace velmora
