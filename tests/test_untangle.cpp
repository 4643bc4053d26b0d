#include <gmock/gmock.h>

#include <cctype>
#include <string>

#include "core/Errors.h"
#include "viewer/Untangle.h"

namespace vostrel {
namespace {

std::string Bytes(std::initializer_list<int> codes) {
    std::string text;
    for (int c : codes) text.push_back(static_cast<char>(c));
    return text;
}

TEST(Untangle, MapsTheScrambledRangesBackToPlainText) {
    EXPECT_EQ(Untangle(""), "");
    EXPECT_EQ(Untangle(Bytes({192, 218, 244, 253, 1, 2, 3})), "Aa09 \n\r");
    EXPECT_EQ(Untangle(Bytes({217, 243})), "Zz");
    EXPECT_EQ(Untangle(Bytes({254, 255, 0, 4, 191})), Bytes({254, 255, 0, 4, 191}));
}

TEST(Untangle, LeavesPrintableAsciiUnchanged) {
    std::string ascii;
    for (int c = 32; c <= 126; ++c) ascii.push_back(static_cast<char>(c));
    EXPECT_EQ(Untangle(ascii), ascii);
}

TEST(Untangle, EveryByteRoundTripsThroughTheInverse) {
    std::string all;
    for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
    // Letters, digits, blank, LF and CR are the plain side of the table.
    std::string plain;
    for (char c : all) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == ' ' || c == '\n' || c == '\r') {
            plain.push_back(c);
        }
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
