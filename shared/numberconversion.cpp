#include "numberconversion.h"

#include "text.h"

#include <charconv>
#include <cmath>
#include <string>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// digits [. digits] [e [sign] digits], with at least one digit in the mantissa. from_chars would
// also take "inf", "nan" and hexadecimal forms, which a setting must not be.
bool isPlainNumber(std::string_view s)
{
    size_t i = 0;
    size_t mantissaDigits = 0;
    while (i < s.size() && isDigit(s[i])) {
        ++i;
        ++mantissaDigits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            ++i;
            ++mantissaDigits;
        }
    }
    if (mantissaDigits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            ++i;
        size_t expDigits = 0;
        while (i < s.size() && isDigit(s[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0)
            return false;
    }
    return i == s.size();
}

} // namespace

Result<int16_t> toInt16(std::string_view text)
{
    text = trimmed(text);

    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (!isPlainNumber(text))
        return {0, errorFor(ErrorNumber::TypeMismatch)};

    double magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (ec == std::errc::result_out_of_range)
        return {0, errorFor(ErrorNumber::Overflow)};
    if (ec != std::errc() || end != text.data() + text.size())
        return {0, errorFor(ErrorNumber::TypeMismatch)};

    // nearbyint in the default rounding mode sends halves to the even neighbour.
    const double rounded = std::nearbyint(negative ? -magnitude : magnitude);
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        return {0, errorFor(ErrorNumber::Overflow)};
    return {static_cast<int16_t>(rounded), {}};
}
