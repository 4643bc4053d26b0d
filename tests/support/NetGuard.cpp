#include "support/NetGuard.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace vostrel::test {

namespace {

std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

NetRecord& Record() {
    static NetRecord record;
    return record;
}

// The address as "host:port", and whether it is a loopback one.
std::string Describe(const sockaddr* address, bool& loopback) {
    char text[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    loopback = false;
    if (address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
        loopback = (ntohl(in->sin_addr.s_addr) >> 24) == 127;
    } else {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        port = ntohs(in6->sin6_port);
        const in6_addr& a = in6->sin6_addr;
        loopback = IN6_IS_ADDR_LOOPBACK(&a) || (IN6_IS_ADDR_V4MAPPED(&a) && a.s6_addr[12] == 127);
    }
    return std::string(text) + ":" + std::to_string(port);
}

bool IsLoopbackName(const char* node) {
    if (node == nullptr) return true;
    for (const char* name : {"localhost", "127.0.0.1", "::1", "ip6-localhost"}) {
        if (std::strcmp(node, name) == 0) return true;
    }
    return std::strncmp(node, "127.", 4) == 0;
}

}  // namespace

NetRecord NetActivity() {
    const std::lock_guard<std::mutex> hold(Lock());
    return Record();
}

void ClearNetActivity() {
    const std::lock_guard<std::mutex> hold(Lock());
    Record() = NetRecord{};
}

}  // namespace vostrel::test

extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
    using Connect = int (*)(int, const sockaddr*, socklen_t);
    static const auto real = reinterpret_cast<Connect>(::dlsym(RTLD_NEXT, "connect"));
    if (address != nullptr && (address->sa_family == AF_INET || address->sa_family == AF_INET6)) {
        bool loopback = false;
        std::string where = vostrel::test::Describe(address, loopback);
        if (!loopback) where += " refused";
        {
            const std::lock_guard<std::mutex> hold(vostrel::test::Lock());
            vostrel::test::Record().connects.push_back(where);
        }
        if (!loopback) {
            errno = ENETUNREACH;
            return -1;
        }
    }
    return real(fd, address, length);
}

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    using Lookup = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto real = reinterpret_cast<Lookup>(::dlsym(RTLD_NEXT, "getaddrinfo"));
    const bool allowed = vostrel::test::IsLoopbackName(node);
    {
        const std::lock_guard<std::mutex> hold(vostrel::test::Lock());
        vostrel::test::Record().lookups.push_back(std::string(node != nullptr ? node : "(null)") +
                                                  (allowed ? "" : " refused"));
    }
    if (!allowed) return EAI_NONAME;
    return real(node, service, hints, result);
}
