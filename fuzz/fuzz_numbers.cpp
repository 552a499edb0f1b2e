// Fuzz target: the number readers of the option words, ParseHex and
// ParseDecimal, and one option word applied to a fresh state.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // zero-terminated copy
  volatile uint32_t hex = velmora::ParseHex(text.c_str());
  volatile int32_t decimal = velmora::ParseDecimal(text.c_str());
  (void)hex;
  (void)decimal;
  velmora::SharedState state;
  velmora::ApplyOptionWord(state, text.c_str());
  return 0;
}
