#pragma once

#include "result.h"

#include <cstdint>
#include <string_view>

// Converts a settings text to a 16-bit signed integer: blanks around the number are allowed, a
// fraction is rounded to the nearest integer with halves going to the even neighbour, an exponent
// is allowed. Text that is not a number fails with "Type mismatch" (13), a number outside
// -32768..32767 after rounding with "Overflow" (6). Independent of the process locale.
Result<int16_t> toInt16(std::string_view text);
