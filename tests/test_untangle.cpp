#include <gmock/gmock.h>

#include <cctype>
#include <string>

#include "core/Errors.h"
#include "viewer/Untangle.h"

namespace vostrel {
namespace {

using namespace std::string_literals;

TEST(Untangle, MapsTheScrambledRangesBackToPlainText) {
    EXPECT_EQ(Untangle(""), "");
    EXPECT_EQ(Untangle("\xC0\xDA\xF4\xFD\x01\x02\x03"), "Aa09 \n\r");
    EXPECT_EQ(Untangle("\xD9\xF3"), "Zz");
    EXPECT_EQ(Untangle("\xFE\xFF\0\x04\xBF"s), "\xFE\xFF\0\x04\xBF"s);
}

TEST(Untangle, LeavesPrintableAsciiUnchanged) {
    std::string ascii;
    for (int c = 32; c <= 126; ++c) ascii.push_back(static_cast<char>(c));
    EXPECT_EQ(Untangle(ascii), ascii);
}

TEST(Untangle, EveryByteRoundTripsThroughTheInverse) {
    // Letters, digits, blank, LF and CR are the plain side of the table.
    std::string plain;
    for (int c = 0; c < 256; ++c) {
        if (std::isalnum(c) || c == ' ' || c == '\n' || c == '\r') plain += static_cast<char>(c);
    }
    EXPECT_EQ(Untangle(Tangle(plain)), plain);
    EXPECT_EQ(Tangle("VostrelDemo.GlobeViewer.1").size(), 25u);
    EXPECT_EQ(Untangle(Tangle("VostrelDemo.GlobeViewer.1")), "VostrelDemo.GlobeViewer.1");
}

TEST(Untangle, OverflowsAtTheLargestSixteenBitLength) {
    EXPECT_EQ(Untangle(std::string(32766, '\xC0')).size(), 32766u);
    EXPECT_THAT(
        [] { Untangle(std::string(32767, 'x')); },
        testing::Throws<AppError>(testing::Property(&AppError::Number, error_number::kOverflow)));
}

}  // namespace
}  // namespace vostrel
