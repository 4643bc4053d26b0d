#include <gtest/gtest.h>

#include <QLocale>
#include <clocale>
#include <string>

#include "report/Conversion.h"

namespace vostrel {
namespace {

struct Case {
    std::string field;
    std::string expected;
};

class LatitudeTable : public ::testing::TestWithParam<Case> {};
class LongitudeTable : public ::testing::TestWithParam<Case> {};

TEST_P(LatitudeTable, ConvertsToSignedDecimalDegrees) {
    EXPECT_EQ(ConvertLatitude(GetParam().field), GetParam().expected) << GetParam().field;
}

TEST_P(LongitudeTable, ConvertsToSignedDecimalDegrees) {
    EXPECT_EQ(ConvertLongitude(GetParam().field), GetParam().expected) << GetParam().field;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, LatitudeTable,
    ::testing::Values(Case{"N2459.8891", "24.9981516666667"},
                      Case{"S3351.1234", "-33.8520566666667"}, Case{"N2234.5678", "22.57613"},
                      Case{"N4530", "45.5"}, Case{"N45", "45"}, Case{"N1030.00001", "10.5"},
                      Case{"s1030.0000", "10.5"}, Case{"S0000.0000", "0"},
                      Case{"N9959.9999", "99.9999983333333"}, Case{"N0", "0.0"}, Case{"S1", "0.0"},
                      Case{"ab", "0.0"}, Case{"", "0"},
                      // A blank in front shifts every piece by one and nothing corrects it.
                      Case{" N2459.8891", "7.66481666666667"},
                      // Blanks, tabs and line feeds count for the positions and are removed
                      // when a piece is read: degrees "2 " and minutes "45\t9.8\n".
                      Case{"N2 45\t9.8\n891", "9.66333333333333"},
                      // Stray characters end the number instead of failing.
                      Case{"NAB30.0abc", "0.5"}, Case{"S1030.0.5x", "-10.5"}, Case{"N1-30", "1.5"},
                      Case{"N-130", "-0.5"}, Case{"N10.5", "10.0083333333333"},
                      // Below 0.0001 the text stays plain decimal.
                      Case{"N0000.0001", "0.00000166666666666667"},
                      Case{"S0000.0030", "-0.00005"}));

INSTANTIATE_TEST_SUITE_P(Fields, LongitudeTable,
                         ::testing::Values(Case{"E12129.2252", "121.487086666667"},
                                           Case{"W07400.5000", "-74.0083333333333"},
                                           Case{"W17959.9999", "-179.999998333333"},
                                           Case{"e12129.2252", "-121.487086666667"},
                                           Case{"E12", "12"}, Case{"E1", "0.0"},
                                           Case{"W00000.0000", "0"}, Case{"E0", "0.0"},
                                           Case{"", "0"}, Case{"X00030", "-0.5"},
                                           Case{"712129.2252", "-121.487086666667"},
                                           Case{"E99999.9999", "1000.666665"}));

TEST(WriteCoordinate, RoundsToFifteenSignificantDigitsInPlainDecimal) {
    const struct {
        double value;
        const char* expected;
    } cases[] = {
        {45.0, "45"},
        {-0.0, "0"},
        {1e-7, "0.0000001"},
        {123456789012345678.0, "123456789012346000"},
        {0.1 + 0.2, "0.3"},
        {9.9999999999999999, "10"},
        {-179.99999999999997, "-180"},
        {2.5e-5, "0.000025"},
    };
    for (const auto& c : cases) EXPECT_EQ(WriteCoordinate(c.value), c.expected) << c.value;
}

TEST(ReadNumber, TakesTheLongestLeadingDecimalNumber) {
    const struct {
        const char* piece;
        double expected;
    } cases[] = {
        {"", 0},       {"abc", 0}, {"-", 0},       {".", 0},        {"+7", 7},   {"-.5", -0.5},
        {".25x", .25}, {"5.", 5},  {"1.2.3", 1.2}, {" - 4 2", -42}, {"0x1A", 0}, {"1e5", 1},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(ReadNumber(c.piece), c.expected) << c.piece;
}

// The texts go into files that separate values with commas: a regional decimal comma must not
// leak into them.
TEST(Conversion, IgnoresALocaleWithADecimalComma) {
    const char* set = std::setlocale(LC_ALL, "de_DE.UTF-8");
    ASSERT_NE(set, nullptr) << "the test locale de_DE.UTF-8 is not available (LOCPATH)";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    EXPECT_EQ(ConvertLatitude("S3351.1234"), "-33.8520566666667");
    EXPECT_EQ(ConvertLongitude("E12129.2252"), "121.487086666667");
    EXPECT_EQ(ConvertLatitude("N4530,5"), "45.5");
    EXPECT_DOUBLE_EQ(ReadNumber("1,5"), 1.0);

    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());
}

}  // namespace
}  // namespace vostrel
