#include "errorinfo.h"
#include "numberconversion.h"

#include <gtest/gtest.h>

namespace {

int16_t converted(const char *text)
{
    const auto r = toInt16(text);
    EXPECT_TRUE(r.ok()) << "'" << text << "': " << r.error.description;
    return r.value;
}

int failure(const char *text)
{
    const auto r = toInt16(text);
    EXPECT_FALSE(r.ok()) << "'" << text << "' converted to " << r.value;
    return r.error.number;
}

TEST(NumberConversion, HalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(converted("0.5"), 0);
    EXPECT_EQ(converted("1.5"), 2);
    EXPECT_EQ(converted("2.5"), 2);
    EXPECT_EQ(converted("3.5"), 4);
    EXPECT_EQ(converted("-2.5"), -2);
    EXPECT_EQ(converted("-3.5"), -4);
    EXPECT_EQ(converted("2.51"), 3);
    EXPECT_EQ(converted("2.49"), 2);
}

TEST(NumberConversion, RangeLimitsOfSixteenBits)
{
    EXPECT_EQ(converted("32767"), 32767);
    EXPECT_EQ(converted("-32768"), -32768);
    EXPECT_EQ(converted("32767.4"), 32767);
    EXPECT_EQ(failure("32767.5"), ErrorNumber::Overflow) << "rounds to 32768";
    EXPECT_EQ(failure("32768"), ErrorNumber::Overflow);
    EXPECT_EQ(converted("-32768.5"), -32768) << "half to even stays in range";
    EXPECT_EQ(failure("-32769"), ErrorNumber::Overflow);
    EXPECT_EQ(failure("1e400"), ErrorNumber::Overflow);
    EXPECT_EQ(converted("1e3"), 1000);
}

TEST(NumberConversion, EmptyAndNonNumericTextIsATypeMismatch)
{
    EXPECT_EQ(failure(""), ErrorNumber::TypeMismatch);
    EXPECT_EQ(failure("   "), ErrorNumber::TypeMismatch);
    EXPECT_EQ(failure("abc"), ErrorNumber::TypeMismatch);
    EXPECT_EQ(failure("5s"), ErrorNumber::TypeMismatch);
    EXPECT_EQ(failure("1 0"), ErrorNumber::TypeMismatch);
    EXPECT_EQ(failure("inf"), ErrorNumber::TypeMismatch);
    EXPECT_EQ(failure("nan"), ErrorNumber::TypeMismatch);
    EXPECT_EQ(failure("0x10"), ErrorNumber::TypeMismatch);
    EXPECT_EQ(failure("-"), ErrorNumber::TypeMismatch);
    EXPECT_EQ(failure("."), ErrorNumber::TypeMismatch);
    EXPECT_EQ(failure("1e"), ErrorNumber::TypeMismatch);
    EXPECT_EQ(toInt16("abc").error.description, "Type mismatch");
    EXPECT_EQ(toInt16("99999").error.description, "Overflow");
}

TEST(NumberConversion, BlanksAndSignsAroundANumber)
{
    EXPECT_EQ(converted(" 10 "), 10);
    EXPECT_EQ(converted("\t15"), 15);
    EXPECT_EQ(converted("+7"), 7);
    EXPECT_EQ(converted("-0"), 0);
    EXPECT_EQ(converted(".5"), 0);
    EXPECT_EQ(converted("5."), 5);
}

TEST(ErrorNumbers, SystemErrorsMapToTheNumbersOfTheLogLines)
{
    using std::errc;
    auto number = [](errc e, const std::filesystem::path &p = {}) {
        return errorFromSystem(std::make_error_code(e), p).number;
    };
    EXPECT_EQ(number(errc::no_such_file_or_directory, "/tmp/none.txt"), 53);
    EXPECT_EQ(number(errc::no_such_file_or_directory, "/no/such/folder/none.txt"), 76);
    EXPECT_EQ(number(errc::not_a_directory), 76);
    EXPECT_EQ(number(errc::no_space_on_device), 61);
    EXPECT_EQ(number(errc::permission_denied), 70);
    EXPECT_EQ(number(errc::io_error), 75);
    EXPECT_EQ(errorFromSystem(std::make_error_code(errc::no_space_on_device)).description, "Disk full");
    EXPECT_EQ(errorFor(ErrorNumber::PathNotFound).description, "Path not found");
    EXPECT_EQ(errorFor(ErrorNumber::InvalidArgument).description, "Invalid procedure call or argument");
    EXPECT_TRUE(errorFromSystem(std::error_code()).ok());
}

} // namespace
