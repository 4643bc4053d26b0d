// Reads text lines, takes the report that starts at each line's first "$", and prints the
// track log line the server makes of it (CR LF ended), so scripts can compute what to expect.
#include <iostream>
#include <string>

#include "report/Conversion.h"
#include "report/ReportCheck.h"

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::size_t start = line.find('$');
        if (start == std::string::npos) continue;
        const auto check = vostrel::CheckReport(std::string_view(line).substr(start));
        if (check.rejection) continue;
        std::cout << vostrel::ConvertLongitude(check.fields[5]) << ','
                  << vostrel::ConvertLatitude(check.fields[6]) << ",0\r\n";
    }
    return 0;
}
