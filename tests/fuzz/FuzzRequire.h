// The fuzz targets' one check: a promise that does not hold is printed with the input it broke
// on, when given, and the target aborts, so that the fuzzer keeps that input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace vostrel::fuzz {

inline void Require(bool condition, const char* what, std::string_view input = {},
                    const char* inputName = "input") {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    if (input.data() != nullptr) {
        std::fprintf(stderr, "%s (%zu bytes): ", inputName, input.size());
        std::fwrite(input.data(), 1, input.size(), stderr);
        std::fputc('\n', stderr);
    }
    std::abort();
}

}  // namespace vostrel::fuzz
