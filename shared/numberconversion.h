#pragma once

#include "errorinfo.h"

#include <cstdint>
#include <string_view>

struct Int16Result
{
    int16_t value = 0;
    ErrorInfo error;

    bool ok() const { return error.ok(); }
};

// Converts a settings text to a 16-bit signed integer: blanks around the number are allowed, a
// fraction is rounded to the nearest integer with halves going to the even neighbour, an exponent
// is allowed. Text that is not a number fails with "Type mismatch" (13), a number outside
// -32768..32767 after rounding with "Overflow" (6). Independent of the process locale.
Int16Result toInt16(std::string_view text);
