// The unscrambler for texts the program stores in scrambled form, and its inverse.
#pragma once

#include <string>
#include <string_view>

namespace vostrel {

// Longest text Untangle takes; one character more raises an overflow error.
inline constexpr std::size_t kLongestUntangleText = 32766;

// Byte by byte (Latin-1 codes): 192-217 -> 'A'-'Z', 218-243 -> 'a'-'z', 244-253 -> '0'-'9',
// 1 -> space, 2 -> LF, 3 -> CR, anything else unchanged. Throws AppError (overflow) for a text
// of 32767 characters or more.
std::string Untangle(std::string_view icText);

// The inverse mapping, used to make the stored form of a plain text.
std::string Tangle(std::string_view plain);

}  // namespace vostrel
