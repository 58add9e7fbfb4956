#pragma once

// Text helpers shared by both programs. Case rules are ASCII only, as the names they compare
// (settings keys, file names of the program folder) come from systems that folded only those.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

char lowerAscii(char c);
std::string toLowerAscii(std::string_view text);
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Without the given characters at either end.
std::string_view trimmed(std::string_view text, std::string_view chars = " \t");

// The pieces between separators, as many as separators plus one ("" gives one empty piece).
std::vector<std::string_view> splitAt(std::string_view text, char separator);

// The first maxChars characters of UTF-8 text, never splitting a character.
std::string cutToCharacters(std::string_view text, size_t maxChars);
// At most maxBytes bytes of UTF-8 text, never splitting a character.
std::string cutToBytes(std::string_view text, size_t maxBytes);

// Control characters written visibly ("\n", "\r", "\t", "\x1b" ...), so that text from outside
// can never start a line of its own in a log file.
std::string visibleText(std::string_view text);
