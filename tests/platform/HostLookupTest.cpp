#include "platform/HostLookup.h"
#include "support/TestSupport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace kavelo {
namespace {

// What a lookup handed back, and on which thread.
struct Outcome {
    std::mutex mutex;
    bool done = false;
    std::optional<in_addr_t> address;
    std::thread::id thread;

    HostLookupDone callback()
    {
        return [this](std::optional<in_addr_t> found) {
            std::lock_guard lock(mutex);
            address = found;
            thread = std::this_thread::get_id();
            done = true;
        };
    }
    bool finished()
    {
        std::lock_guard lock(mutex);
        return done;
    }
};

struct LookupCase {
    const char* name;
    QByteArray host;
    std::optional<const char*> expected;
};

class HostLookupTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(HostLookupTest, AnswersOnItsOwnThread)
{
    Outcome outcome;
    lookUpIPv4Address(GetParam().host, outcome.callback());
    ASSERT_TRUE(test::processEventsUntil([&] { return outcome.finished(); }, 20000)) << "the lookup never ended";
    std::lock_guard lock(outcome.mutex);
    EXPECT_NE(outcome.thread, std::this_thread::get_id()) << "the lookup held up the caller's thread";
    if (GetParam().expected) {
        ASSERT_TRUE(outcome.address.has_value());
        EXPECT_EQ(*outcome.address, ::inet_addr(*GetParam().expected));
    } else {
        EXPECT_FALSE(outcome.address.has_value());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, HostLookupTest,
    ::testing::Values(LookupCase{"Localhost", "localhost", "127.0.0.1"},
                      LookupCase{"DottedName", "127.0.0.9", "127.0.0.9"},
                      // Reserved for names that must never resolve.
                      LookupCase{"ReservedInvalidName", "peer.invalid", std::nullopt},
                      LookupCase{"EmptyName", "", std::nullopt},
                      // The resolver reads up to the zero byte: "localhost".
                      LookupCase{"ZeroByteEndsTheName", QByteArray("localhost\0.invalid", 18), "127.0.0.1"},
                      LookupCase{"NameOfOnlyAZeroByte", QByteArray("\0x", 2), std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kavelo
