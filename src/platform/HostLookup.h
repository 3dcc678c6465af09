#pragma once

#include <QByteArray>
#include <functional>
#include <netinet/in.h>
#include <optional>

namespace kavelo {

// Looks up the first IPv4 address of a host name (the system resolver: hosts
// file, DNS) on a thread of its own, so that a lookup that takes long or never
// ends holds up nothing. `done` runs once on that thread with the address in
// network byte order, or nothing when the name has no IPv4 address; it must
// only post the result to the event loop (see NotificationTarget::post).
// A lookup cannot be stopped; a caller that is gone by then must not be reached
// through `done` (post to a target that outlives its window).
using HostLookupDone = std::function<void(std::optional<in_addr_t> address)>;
void lookUpIPv4Address(QByteArray name, HostLookupDone done);

} // namespace kavelo
