// The system's text for a Win32 error code, without its line end or final
// full stop; "error N" where the system has none. Any thread.
#pragma once

#include <string>

#include "platform/win32/windows_api.h"

namespace velmora {

inline std::string SystemReason(DWORD error) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, text, sizeof text, nullptr);
  std::string why(text, n);
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == '.'))
    why.pop_back();
  if (why.empty()) why = "error " + std::to_string(error);
  return why;
}

}  // namespace velmora
