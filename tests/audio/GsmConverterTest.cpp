#include "audio/GsmConverter.h"
#include "platform/compression/GsmCompressionManager.h"

#include "GsmConverterFormats.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <vector>

namespace kavelo {
namespace {

enum class Op { Open, Size, Prepare, Convert, Reset, Unprepare, Close };

// The real GSM streams, except that a chosen operation answers a chosen code
// instead; records every call and what it was given.
class ScriptedCompressionManager : public AudioCompressionManager {
public:
    std::map<Op, MMRESULT> failures;
    std::vector<Op> calls;
    int openStreams = 0;
    WaveFormat openedSource;
    WaveFormat openedDestination;
    std::uint32_t openFlags = ~0u;
    std::uint32_t sizeInput = 0;
    std::uint32_t sizeFlags = ~0u;
    AcmStreamHeader preparedHeader;
    std::uint32_t convertFlags = ~0u;

    MMRESULT streamOpen(HACMSTREAM& stream, const WaveFormat& source, const WaveFormat& destination,
                        std::uint32_t flags) override
    {
        openedSource = source;
        openedDestination = destination;
        openFlags = flags;
        const MMRESULT code = answer(Op::Open, [&] { return real_.streamOpen(stream, source, destination, flags); });
        openStreams += code == 0 ? 1 : 0;
        return code;
    }
    MMRESULT streamSize(HACMSTREAM stream, std::uint32_t input, std::uint32_t& output,
                        std::uint32_t flags) override
    {
        sizeInput = input;
        sizeFlags = flags;
        return answer(Op::Size, [&] { return real_.streamSize(stream, input, output, flags); });
    }
    MMRESULT streamPrepareHeader(HACMSTREAM stream, AcmStreamHeader& header, std::uint32_t flags) override
    {
        preparedHeader = header;
        return answer(Op::Prepare, [&] { return real_.streamPrepareHeader(stream, header, flags); });
    }
    MMRESULT streamConvert(HACMSTREAM stream, AcmStreamHeader& header, std::uint32_t flags) override
    {
        convertFlags = flags;
        return answer(Op::Convert, [&] { return real_.streamConvert(stream, header, flags); });
    }
    MMRESULT streamReset(HACMSTREAM stream, std::uint32_t flags) override
    {
        return answer(Op::Reset, [&] { return real_.streamReset(stream, flags); });
    }
    MMRESULT streamUnprepareHeader(HACMSTREAM stream, AcmStreamHeader& header, std::uint32_t flags) override
    {
        return answer(Op::Unprepare, [&] { return real_.streamUnprepareHeader(stream, header, flags); });
    }
    MMRESULT streamClose(HACMSTREAM stream, std::uint32_t flags) override
    {
        const MMRESULT code = answer(Op::Close, [&] { return real_.streamClose(stream, flags); });
        openStreams -= code == 0 ? 1 : 0;
        return code;
    }

    int count(Op op) const { return static_cast<int>(std::count(calls.begin(), calls.end(), op)); }

private:
    template <class Call>
    MMRESULT answer(Op op, Call&& call)
    {
        calls.push_back(op);
        const auto it = failures.find(op);
        return it != failures.end() ? it->second : call();
    }

    GsmCompressionManager real_;
};

// A quiet tone, so that the encoder has something to code.
void fillTone(GsmConverter& convertor)
{
    for (std::uint32_t i = 0; i < convertor.InputBufferSize(); ++i)
        convertor.InputBuffer()[i] = static_cast<std::uint8_t>(128 + ((i / 8) % 2 == 0 ? 40 : -40));
}

std::string messageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const GsmConverterError& e) {
        return e.Message().toStdString();
    }
    return "(no GsmConverterError)";
}

class GsmConverterTest : public ::testing::Test {
protected:
    GsmConverterTest() { test::setCallFormats(convertor); }

    std::shared_ptr<ScriptedCompressionManager> manager = std::make_shared<ScriptedCompressionManager>();
    GsmConverter convertor{nullptr, manager};
};

TEST(GsmConverterCreation, StartsInactiveWith2048BytesAndTwoEqualPlaceholderFormats)
{
    GsmConverter convertor;
    EXPECT_FALSE(convertor.Active());
    EXPECT_EQ(convertor.InputBufferSize(), 2048u);
    EXPECT_EQ(convertor.InputBuffer(), nullptr);
    EXPECT_EQ(convertor.OutputBuffer(), nullptr);
    for (const WaveFormat* format : {&convertor.ACMFormatIn(), &convertor.ACMFormatOut()}) {
        EXPECT_EQ(format->formatTag(), 0x31);
        EXPECT_EQ(format->channels(), 1);
        EXPECT_EQ(format->samplesPerSec(), 8000u);
        EXPECT_EQ(format->avgBytesPerSec(), 8000u);
        EXPECT_EQ(format->blockAlign(), 1);
        EXPECT_EQ(format->bitsPerSample(), 8);
        EXPECT_EQ(format->extraSize(), 129);
        EXPECT_TRUE(std::all_of(format->bytes.begin() + 18, format->bytes.end(), [](auto b) { return b == 0; }));
    }
}

TEST(GsmConverterCreation, PlaceholderFormatsCannotBeConvertedByTheGsmStreams)
{
    GsmConverter convertor(nullptr, std::make_shared<GsmCompressionManager>());
    EXPECT_EQ(messageOf([&] { convertor.setActive(true); }),
              "acmStreamOpen: The requested operation cannot be performed.");
    EXPECT_FALSE(convertor.Active());
}

TEST_F(GsmConverterTest, ActivationOpensOneStreamAndPreparesOneHeaderOverTheBuffers)
{
    convertor.setInputBufferSize(2000);
    convertor.setActive(true);
    convertor.setActive(true);

    ASSERT_TRUE(convertor.Active());
    EXPECT_EQ(manager->count(Op::Open), 1);
    EXPECT_EQ(manager->count(Op::Prepare), 1);
    EXPECT_EQ(manager->openFlags, 0u);
    EXPECT_EQ(manager->openedSource, convertor.ACMFormatIn());
    EXPECT_EQ(manager->openedDestination, convertor.ACMFormatOut());
    EXPECT_EQ(manager->sizeInput, 2000u);
    EXPECT_EQ(manager->sizeFlags, ACM_STREAMSIZEF_SOURCE);
    EXPECT_EQ(convertor.OutputBufferSize(), 390u);
    ASSERT_NE(convertor.InputBuffer(), nullptr);
    ASSERT_NE(convertor.OutputBuffer(), nullptr);

    const AcmStreamHeader& h = manager->preparedHeader;
    EXPECT_EQ(h.cbStruct, 84u);
    EXPECT_EQ(h.fdwStatus, 0u);
    EXPECT_EQ(h.pbSrc, convertor.InputBuffer());
    EXPECT_EQ(h.cbSrcLength, 2000u);
    EXPECT_EQ(h.cbSrcLengthUsed, 0u);
    EXPECT_EQ(h.pbDst, convertor.OutputBuffer());
    EXPECT_EQ(h.cbDstLength, 390u);
    EXPECT_EQ(h.cbDstLengthUsed, 0u);
}

TEST_F(GsmConverterTest, ConvertGivesSixBlocksFor2000And2048Bytes)
{
    for (const std::uint32_t size : {2000u, 2048u}) {
        SCOPED_TRACE(size);
        convertor.setInputBufferSize(size);
        convertor.setActive(true);
        fillTone(convertor);
        EXPECT_EQ(convertor.Convert(), 390);
        EXPECT_EQ(manager->convertFlags, ACM_STREAMCONVERTF_BLOCKALIGN);
        EXPECT_TRUE(std::any_of(convertor.OutputBuffer(), convertor.OutputBuffer() + 390, [](auto b) { return b != 0; }));
        EXPECT_EQ(convertor.Convert(), 390) << "the header stays prepared for the next block";
        convertor.setActive(false);
    }
    EXPECT_EQ(manager->count(Op::Reset), 4);
    EXPECT_EQ(manager->openStreams, 0);
}

TEST_F(GsmConverterTest, BufferSizeCannotChangeWhileActive)
{
    convertor.setInputBufferSize(2000);
    convertor.setActive(true);
    EXPECT_EQ(messageOf([&] { convertor.setInputBufferSize(4000); }),
              "You cannot change the buffer size while active.");
    EXPECT_EQ(convertor.InputBufferSize(), 2000u);

    convertor.setActive(false);
    convertor.setInputBufferSize(4000);
    EXPECT_EQ(convertor.InputBufferSize(), 4000u);
    convertor.setActive(true);
    EXPECT_EQ(convertor.OutputBufferSize(), 12u * 65u);
}

TEST_F(GsmConverterTest, DeactivationUnpreparesClosesAndFreesOnce)
{
    convertor.setActive(true);
    convertor.setActive(false);
    convertor.setActive(false);
    EXPECT_FALSE(convertor.Active());
    EXPECT_EQ(convertor.InputBuffer(), nullptr);
    EXPECT_EQ(convertor.OutputBuffer(), nullptr);
    EXPECT_EQ(manager->count(Op::Unprepare), 1);
    EXPECT_EQ(manager->count(Op::Close), 1);
    EXPECT_EQ(manager->openStreams, 0);
}

TEST_F(GsmConverterTest, ConvertWhileInactiveIsRefusedAsAnInvalidHandle)
{
    EXPECT_EQ(messageOf([&] { convertor.Convert(); }), "acmStreamConvert: The specified handle is invalid.");
    convertor.setActive(true);
    convertor.setActive(false);
    EXPECT_EQ(messageOf([&] { convertor.Convert(); }), "acmStreamConvert: The specified handle is invalid.");
}

TEST_F(GsmConverterTest, TooSmallABufferForOneBlockCannotBeActivated)
{
    convertor.setInputBufferSize(319);
    EXPECT_EQ(messageOf([&] { convertor.setActive(true); }),
              "acmStreamSize: The requested operation cannot be performed.");
    EXPECT_FALSE(convertor.Active());
    EXPECT_EQ(manager->openStreams, 0);
}

TEST_F(GsmConverterTest, DestructionDeactivates)
{
    auto owned = std::make_unique<GsmConverter>(nullptr, manager);
    test::setCallFormats(*owned);
    owned->setActive(true);
    owned.reset();
    EXPECT_EQ(manager->count(Op::Unprepare), 1);
    EXPECT_EQ(manager->openStreams, 0);
}

TEST_F(GsmConverterTest, DestructionSurvivesARefusedUnprepareAndStillClosesTheStream)
{
    auto owned = std::make_unique<GsmConverter>(nullptr, manager);
    test::setCallFormats(*owned);
    owned->setActive(true);
    manager->failures[Op::Unprepare] = MMSYSERR_INVALPARAM;
    owned.reset();
    EXPECT_EQ(manager->openStreams, 0);
}

TEST_F(GsmConverterTest, FormatRecordsAreHandedOutByReference)
{
    convertor.ACMFormatOut().setAvgBytesPerSec(1);
    EXPECT_EQ(convertor.ACMFormatOut().avgBytesPerSec(), 1u);
    EXPECT_EQ(messageOf([&] { convertor.setActive(true); }),
              "acmStreamOpen: The requested operation cannot be performed.");
}

// One failing operation: its message, and what the converter holds afterwards.
struct Failure {
    const char* name;
    Op op;
    MMRESULT code;
    const char* message;
    bool activeAfter;
};

class GsmConverterFailure : public GsmConverterTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(GsmConverterFailure, RaisesTheOperationsMessageAndKeepsTheDesignedState)
{
    const Failure& f = GetParam();
    const bool failsOnActivation = f.op == Op::Open || f.op == Op::Size || f.op == Op::Prepare;
    const bool failsOnConvert = f.op == Op::Convert || f.op == Op::Reset;
    convertor.setInputBufferSize(2000);
    if (!failsOnActivation)
        convertor.setActive(true);
    manager->failures[f.op] = f.code;

    std::string message;
    if (failsOnActivation) {
        message = messageOf([&] { convertor.setActive(true); });
    } else if (failsOnConvert) {
        fillTone(convertor);
        std::fill_n(convertor.OutputBuffer(), 390, std::uint8_t{0xAA});
        message = messageOf([&] { convertor.Convert(); });
    } else {
        message = messageOf([&] { convertor.setActive(false); });
    }
    EXPECT_EQ(message, f.message);
    EXPECT_EQ(convertor.Active(), f.activeAfter);

    switch (f.op) {
    case Op::Open:
    case Op::Size:
    case Op::Prepare:
        EXPECT_EQ(convertor.InputBuffer(), nullptr);
        EXPECT_EQ(convertor.OutputBuffer(), nullptr);
        EXPECT_EQ(manager->openStreams, 0) << "a stream opened by a failed activation is closed again";
        break;
    case Op::Convert:
        EXPECT_EQ(manager->count(Op::Reset), 0);
        EXPECT_TRUE(std::all_of(convertor.OutputBuffer(), convertor.OutputBuffer() + 390,
                                [](auto b) { return b == 0; }))
            << "the output buffer is cleared before every conversion";
        break;
    case Op::Reset:
        EXPECT_TRUE(std::any_of(convertor.OutputBuffer(), convertor.OutputBuffer() + 390,
                                [](auto b) { return b != 0 && b != 0xAA; }))
            << "the converted bytes stay in the output buffer";
        break;
    case Op::Unprepare:
        EXPECT_EQ(manager->count(Op::Close), 0);
        EXPECT_NE(convertor.InputBuffer(), nullptr);
        break;
    case Op::Close:
        EXPECT_NE(convertor.InputBuffer(), nullptr);
        break;
    }

    // Once the stream behaves again the converter carries on from where it stopped.
    manager->failures.clear();
    if (f.op == Op::Unprepare || f.op == Op::Convert || f.op == Op::Reset) {
        convertor.setActive(false);
        EXPECT_FALSE(convertor.Active());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Operations, GsmConverterFailure,
    ::testing::Values(
        Failure{"OpenUnknownCode", Op::Open, 32, "acmStreamOpen: raised an unknown error (code #32)", false},
        Failure{"OpenNotPossible", Op::Open, 512, "acmStreamOpen: The requested operation cannot be performed.", false},
        Failure{"OpenNoDriver", Op::Open, 6,
                "acmStreamOpen: A suitable driver is not available to provide valid format selections.", false},
        Failure{"SizeNoMemory", Op::Size, 7, "acmStreamSize: The system is unable to allocate resources.", false},
        Failure{"PrepareInvalidParam", Op::Prepare, 11, "acmStreamPrepareHeader: At least one parameter is invalid.",
                false},
        Failure{"PrepareUnknownCode", Op::Prepare, 2, "acmStreamPrepareHeader: raised an unknown error (code #2)",
                false},
        Failure{"ConvertUnprepared", Op::Convert, 514,
                "acmStreamConvert: Cannot perform this action on a header that has not been prepared.", true},
        Failure{"ConvertBusy", Op::Convert, 513, "acmStreamConvert: The conversion stream is already in use.", true},
        Failure{"ResetInvalidHandle", Op::Reset, 5, "acmStreamReset The specified handle is invalid.", true},
        Failure{"ResetUnknownCode", Op::Reset, 35, "acmStreamReset raised an unknown error (code #35)", true},
        Failure{"UnprepareInvalidFlag", Op::Unprepare, 10, "acmStreamUnPrepareHeader: At least one flag is invalid.",
                true},
        Failure{"CloseBusy", Op::Close, 513, "acmStreamClose: The conversion stream is already in use.", true},
        Failure{"CloseUnknownCode", Op::Close, 4, "acmStreamClose: raised an unknown error (code #4)", true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace kavelo
