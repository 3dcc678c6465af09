// The call state on its own, without a window: what each thing the user does
// and each datagram that arrives leaves of the controls' flags, and who counts
// as the peer.
#include "app/CallState.h"

#include <gtest/gtest.h>
#include <functional>
#include <ostream>
#include <vector>

namespace kavelo {
namespace {

const QString kPeer = QStringLiteral("10.0.0.1");
const QString kStranger = QStringLiteral("10.0.0.2");

// Everything the window shows or the ring alert and the dispatch ask.
struct Flags {
    QString peer;
    bool speaking = false;
    bool calling = false;  // "Send RING" spent
    bool stopAvailable = false;
    bool addressEditable = true;
    bool contactListAvailable = true;
    bool inConversation = false;
    bool stopEndsConversation = false;

    bool operator==(const Flags&) const = default;
};

void PrintTo(const Flags& f, std::ostream* out)
{
    *out << "{peer '" << f.peer.toStdString() << "', speaking " << f.speaking << ", calling " << f.calling
         << ", stop " << f.stopAvailable << ", address " << f.addressEditable << ", contact list "
         << f.contactListAvailable << ", in conversation " << f.inConversation << ", STOP ends it "
         << f.stopEndsConversation << "}";
}

Flags flagsOf(const CallState& call)
{
    return Flags{call.peer(),          call.speaking(),
                 call.calling(),       call.stopAvailable(),
                 call.addressEditable(), call.contactListAvailable(),
                 call.conversationInProgress(), call.stopEndsConversation()};
}

using Step = std::function<void(CallState&)>;

// "Speak" with a usable address, as the main window takes it.
const Step speakTo = [](CallState& call) {
    call.speakPressed();
    call.speakTo(kPeer);
};
const Step speakRefused = [](CallState& call) {
    call.speakPressed();
    call.speakRefused();
};
const Step silence = [](CallState& call) { call.silence(); };
const Step ringSent = [](CallState& call) { call.ringSent(kPeer); };
const Step lineSent = [](CallState& call) { call.lineSent(kPeer); };
const Step stopSent = [](CallState& call) { call.stopSent(kPeer); };
const Step addressEdited = [](CallState& call) { call.addressEdited(); };
const Step fromPeer = [](CallState& call) { call.datagramArrived(kPeer); };
const Step fromStranger = [](CallState& call) { call.datagramArrived(kStranger); };
const Step forgetPeer = [](CallState& call) { call.forgetPeer(); };

struct TransitionCase {
    const char* name;
    std::vector<Step> steps;
    Flags expected;
};

class Transition : public ::testing::TestWithParam<TransitionCase> {};

TEST_P(Transition, LeavesTheFlagsTheControlsAlwaysHad)
{
    CallState call;
    for (const Step& step : GetParam().steps)
        step(call);
    EXPECT_EQ(flagsOf(call), GetParam().expected);
}

// Flags: peer, speaking, calling, stop, address, contact list, in conversation, STOP ends it.
INSTANTIATE_TEST_SUITE_P(
    CallState, Transition,
    ::testing::Values(
        TransitionCase{"AtStartIdle", {}, Flags{}},
        TransitionCase{"SpeakLocksTheAddressAndSpendsTheRing", {speakTo},
                       Flags{kPeer, true, true, false, false, true, true, true}},
        TransitionCase{"SpeakWithAnUnusableAddressChangesNothing", {speakRefused}, Flags{}},
        // The address check raised: "Speak" stays down with no peer, and a
        // STOP from whoever sends first ends it.
        TransitionCase{"SpeakWhoseAddressCheckRaisedStaysDown", {[](CallState& call) { call.speakPressed(); }},
                       Flags{QString(), true, false, false, true, true, false, true}},
        TransitionCase{"SilentAfterSpeakIsIdleButKeepsSendStop", {speakTo, fromPeer, silence},
                       Flags{QString(), false, false, true, true, true, false, false}},
        TransitionCase{"SilentAfterARingGivesTheRingBack", {ringSent, silence}, Flags{}},
        TransitionCase{"ARingIsAConversation", {ringSent}, Flags{kPeer, false, true, false, true, true, true, true}},
        TransitionCase{"ALineIsAConversation", {lineSent}, Flags{kPeer, false, true, false, true, true, true, true}},
        // A STOP names the peer but keeps the ring: the alert may clear the peer.
        TransitionCase{"AStopSentIsNoConversation", {fromPeer, stopSent},
                       Flags{kPeer, false, false, false, true, false, false, false}},
        TransitionCase{"AnEditOfTheAddressTakesSendStopBack", {fromPeer, addressEdited},
                       Flags{QString(), false, false, false, true, false, false, false}},
        TransitionCase{"TheFirstSenderIsNotTakenAsThePeer", {fromPeer},
                       Flags{QString(), false, false, true, true, false, false, false}},
        TransitionCase{"AStrangerOffersSendStopButLocksNothing", {speakTo, fromStranger},
                       Flags{kPeer, true, true, true, false, true, true, true}},
        TransitionCase{"TheRingAlertForgetsThePeerOfAStop", {stopSent, forgetPeer},
                       Flags{QString(), false, false, false, true, true, false, false}},
        // "Speak" again after a STOP sent while speaking (the address field
        // emptied) is refused, yet the address stays locked and the call goes on.
        TransitionCase{"SpeakRefusedInACallKeepsTheAddressLocked", {speakTo, stopSent, speakRefused},
                       Flags{kPeer, false, true, false, false, true, true, true}}),
    [](const ::testing::TestParamInfo<TransitionCase>& info) { return std::string(info.param.name); });

// A stranger's STOP or voice never reaches a conversation, however it began.
TEST(CallStateTest, AStrangerIsNeverThePeerOfACall)
{
    for (const Step& begin : {speakTo, ringSent, lineSent, stopSent}) {
        CallState call;
        begin(call);
        EXPECT_EQ(call.senderOf(kStranger), CallState::Sender::ThirdParty);
        EXPECT_EQ(call.datagramArrived(kStranger), CallState::Sender::ThirdParty);
        EXPECT_EQ(call.datagramArrived(kPeer), CallState::Sender::Peer);
        EXPECT_EQ(call.peer(), kPeer);
    }
}

TEST(CallStateTest, WithoutAPeerAnySenderIsThePeer)
{
    for (const std::vector<Step>& steps :
         std::vector<std::vector<Step>>{{}, {speakTo, silence}, {stopSent, forgetPeer}, {speakRefused}}) {
        CallState call;
        for (const Step& step : steps)
            step(call);
        EXPECT_EQ(call.datagramArrived(kStranger), CallState::Sender::Peer);
        EXPECT_TRUE(call.peer().isEmpty()) << "a sender was taken as the peer";
    }
}

// The window shows the flags whenever `changed` comes: it must come after
// every step, with the step's flags already in place.
TEST(CallStateTest, EveryStepTellsTheWindowWithItsFlagsInPlace)
{
    CallState call;
    std::vector<Flags> shown;
    QObject::connect(&call, &CallState::changed, [&] { shown.push_back(flagsOf(call)); });
    const std::vector<Step> steps{fromPeer,   addressEdited, speakTo, fromStranger, stopSent, speakRefused, silence,
                                  ringSent,   forgetPeer,    lineSent, silence,     speakRefused};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        shown.clear();
        steps[i](call);
        ASSERT_FALSE(shown.empty()) << "step " << i << " told the window nothing";
        EXPECT_EQ(shown.back(), flagsOf(call)) << "step " << i;
    }
}

// The dispatch tells a repeated failure again only in a new conversation.
TEST(CallStateTest, OnlySilenceEndsTheConversationForTheDispatch)
{
    CallState call;
    int silenced = 0;
    QObject::connect(&call, &CallState::silenced, [&] { ++silenced; });
    for (const Step& step : {speakTo, fromPeer, fromStranger, stopSent, addressEdited, speakRefused, forgetPeer})
        step(call);
    EXPECT_EQ(silenced, 0);
    call.silence();
    EXPECT_EQ(silenced, 1);
}

TEST(CallStateTest, MissedCallsAreShownOnceAtSilent)
{
    CallState call;
    speakTo(call);
    EXPECT_FALSE(call.missedCallsPending());
    call.missedCallRecorded();
    call.missedCallRecorded();
    EXPECT_TRUE(call.missedCallsPending());
    EXPECT_TRUE(call.takeMissedCalls());
    EXPECT_FALSE(call.takeMissedCalls());
    EXPECT_FALSE(call.missedCallsPending());
}

} // namespace
} // namespace kavelo
