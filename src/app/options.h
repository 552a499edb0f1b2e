// The option words of the command line: each word's first character selects
// what it sets; unknown words are ignored and nothing is reported.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/plan_bounds.h"
#include "app/shared_state.h"

namespace velmora {

// The hexadecimal value of the leading hex digits of `text` (either case),
// keeping the low 32 bits; stops at the first other character.
uint32_t ParseHex(const char* text);

// The decimal value by the rules of atoi: leading white space, one optional
// sign, digits up to the first other character, no digits = 0. There is no
// overflow check: the value wraps modulo 2^32.
int32_t ParseDecimal(const char* text);

// Applies one option word to the state exactly as its selector says, with no
// bound beyond the word's own.
void ApplyOptionWord(SharedState& state, const char* word);

// Applies words 1..argc-1 of an argument vector (word 0 is the program's name)
// in order, then bounds the plan settings so that no plan can break; returns
// what the bound moved. Window thread, once at start-up.
BoundReport ReadOptions(SharedState& state, int argc, const char* const* argv);

// The same for the option words alone, as they follow the program's name.
BoundReport ReadOptions(SharedState& state, const std::vector<std::string>& words);

}  // namespace velmora
