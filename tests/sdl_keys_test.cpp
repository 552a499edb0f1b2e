// The SDL host's keys: what each key becomes, the keypad with NumLock on and off.
#include <gtest/gtest.h>

#include <initializer_list>

#include "platform/sdl/sdl_window_host.h"
#include "platform/window_host.h"

namespace velmora {
namespace {

TEST(SdlKeysTest, KeysAndTheKeypad) {
  struct Case {
    SDL_Keycode key;
    Uint16 mod;
    uint32_t vk;
  };
  for (const Case& c : std::initializer_list<Case>{
           {SDLK_RETURN, KMOD_NONE, kVkReturn},
           {SDLK_KP_ENTER, KMOD_NONE, kVkReturn},
           {SDLK_KP_ENTER, KMOD_NUM, kVkReturn},
           {SDLK_UP, KMOD_NONE, kVkUp},
           {SDLK_KP_8, KMOD_NONE, kVkUp},
           {SDLK_KP_2, KMOD_NONE, kVkDown},
           {SDLK_KP_4, KMOD_NONE, kVkLeft},
           {SDLK_KP_6, KMOD_NONE, kVkRight},
           {SDLK_KP_8, KMOD_SHIFT, kVkUp},
           // NumLock on: the keypad's digits, which the program does not use.
           {SDLK_KP_8, KMOD_NUM, 0},
           {SDLK_KP_2, KMOD_NUM, 0},
           {SDLK_KP_5, KMOD_NONE, 0},
           {SDLK_ESCAPE, KMOD_NUM, kVkEscape},
           {SDLK_a, KMOD_NONE, 'A'},
           {SDLK_F4, KMOD_NONE, 115},
       }) {
    EXPECT_EQ(VirtualKeyFor(c.key, c.mod), c.vk) << "key " << c.key << " mod " << c.mod;
  }
}

}  // namespace
}  // namespace velmora
