// Keeps a test program's network traffic on this machine: the program's own connect() and
// getaddrinfo() stand in front of the C library's, let loopback and local sockets through,
// refuse everything else, and record every Internet address and host name asked for.
#pragma once

#include <string>
#include <vector>

namespace vostrel::test {

struct NetRecord {
    std::vector<std::string> connects;  // "127.0.0.1:8080", "192.0.2.1:80 refused", ...
    std::vector<std::string> lookups;   // host names, "refused" appended when refused
};

// What was asked for since the last Clear.
NetRecord NetActivity();
void ClearNetActivity();

}  // namespace vostrel::test
