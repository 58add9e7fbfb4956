#pragma once

// Small text steps that several rules share, in one place so that they agree.

#include <string_view>
#include <vector>

// Without the spaces and tabs at either end.
std::string_view trimmedBlanks(std::string_view text);

// The pieces between separators, as many as separators plus one ("" gives one empty piece).
std::vector<std::string_view> splitAt(std::string_view text, char separator);
