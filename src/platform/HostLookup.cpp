#include "platform/HostLookup.h"

#include <netdb.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>

namespace kavelo {
namespace {

std::optional<in_addr_t> firstIPv4Address(const QByteArray& name)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    // Names outside ASCII are looked up in their international (IDNA) form.
    hints.ai_flags = AI_IDN;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.constData(), nullptr, &hints, &found) != 0 || found == nullptr)
        return std::nullopt;
    std::optional<in_addr_t> address;
    for (const addrinfo* each = found; each != nullptr; each = each->ai_next) {
        if (each->ai_family == AF_INET && each->ai_addrlen >= sizeof(sockaddr_in)) {
            address = reinterpret_cast<const sockaddr_in*>(each->ai_addr)->sin_addr.s_addr;
            break;
        }
    }
    ::freeaddrinfo(found);
    return address;
}

} // namespace

void lookUpIPv4Address(QByteArray name, HostLookupDone done)
{
    // A name holding a zero byte is cut there, as the resolver reads it.
    name.truncate(name.indexOf('\0') < 0 ? name.size() : name.indexOf('\0'));
    try {
        std::thread([name = std::move(name), done] { done(name.isEmpty() ? std::nullopt : firstIPv4Address(name)); })
            .detach();
    } catch (const std::system_error&) {
        // No thread to be had: the lookup fails at once rather than never ending.
        done(std::nullopt);
    }
}

} // namespace kavelo
