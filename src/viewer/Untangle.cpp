#include "viewer/Untangle.h"

#include "core/Errors.h"

namespace vostrel {

std::string Untangle(std::string_view icText) {
    if (icText.size() > kLongestUntangleText) {
        throw AppError(error_number::kOverflow, "Overflow");
    }
    std::string plain;
    plain.reserve(icText.size());
    for (const char ch : icText) {
        const int c = static_cast<unsigned char>(ch);
        if (c >= 192 && c <= 217) {
            plain.push_back(static_cast<char>(c - 127));
        } else if (c >= 218 && c <= 243) {
            plain.push_back(static_cast<char>(c - 121));
        } else if (c >= 244 && c <= 253) {
            plain.push_back(static_cast<char>(c - 196));
        } else if (c == 1) {
            plain.push_back(' ');
        } else if (c == 2) {
            plain.push_back('\n');
        } else if (c == 3) {
            plain.push_back('\r');
        } else {
            plain.push_back(ch);
        }
    }
    return plain;
}

std::string Tangle(std::string_view plain) {
    std::string stored;
    stored.reserve(plain.size());
    for (const char ch : plain) {
        const int c = static_cast<unsigned char>(ch);
        int out = c;
        if (c >= 'A' && c <= 'Z') {
            out = c + 127;
        } else if (c >= 'a' && c <= 'z') {
            out = c + 121;
        } else if (c >= '0' && c <= '9') {
            out = c + 196;
        } else if (c == ' ') {
            out = 1;
        } else if (c == '\n') {
            out = 2;
        } else if (c == '\r') {
            out = 3;
        }
        stored.push_back(static_cast<char>(out));
    }
    return stored;
}

}  // namespace vostrel
