#include "audio/GsmConverter.h"

#include "audio/ResultCheck.h"

#include <QIODevice>
#include <QScopeGuard>
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace kavelo {
namespace {

void check(const char* operation, MMRESULT code)
{
    checkResult<GsmConverterError>(QString::fromLatin1(operation), code, acmResultTexts());
}

// Both records start out the same until stored data or code replaces them.
void setInitialFormat(WaveFormat& format)
{
    format = WaveFormat{};
    format.setFormatTag(kWaveFormatGsm610);
    format.setChannels(1);
    format.setSamplesPerSec(8000);
    format.setAvgBytesPerSec(8000);
    format.setBlockAlign(1);
    format.setBitsPerSample(8);
    format.setExtraSize(WaveFormat::kSize);
}

// A stored record: 4-byte little-endian length, then that many bytes.
void writeFormat(QIODevice& stream, const WaveFormat& format)
{
    std::uint8_t length[4];
    qToLittleEndian<std::uint32_t>(WaveFormat::kSize, length);
    stream.write(reinterpret_cast<const char*>(length), sizeof length);
    stream.write(reinterpret_cast<const char*>(format.bytes.data()), WaveFormat::kSize);
}

// Data short of the stated length leaves the rest of the record as it was. A length
// beyond the record fills the record and skips the surplus: it never writes past it.
void readFormat(QIODevice& stream, WaveFormat& format)
{
    std::uint8_t length[4] = {};
    stream.read(reinterpret_cast<char*>(length), sizeof length);
    const std::uint32_t stated = qFromLittleEndian<std::uint32_t>(length);
    const qint64 fits = std::min<qint64>(stated, WaveFormat::kSize);
    stream.read(reinterpret_cast<char*>(format.bytes.data()), fits);
    if (stated > fits)
        stream.skip(stated - fits);
}

} // namespace

GsmConverter::GsmConverter(QObject* owner, std::shared_ptr<AudioCompressionManager> manager)
    : Component(owner), manager_(std::move(manager))
{
    setInputBufferSize(2048);
    setInitialFormat(formatIn_);
    setInitialFormat(formatOut_);
}

GsmConverter::~GsmConverter()
{
    Destroying();
    try {
        setActive(false);
    } catch (const GsmConverterError&) {
        // The stream refused to let go and there is nobody left to tell; close it
        // regardless so that it does not outlive its buffers.
        manager_->streamClose(stream_, 0);
    }
}

void GsmConverter::setInputBufferSize(std::uint32_t value)
{
    if (active_)
        throw GsmConverterError(QStringLiteral("You cannot change the buffer size while active."));
    inputBufferSize_ = value;
}

void GsmConverter::setActive(bool value)
{
    if (value == active_)
        return;
    if (value)
        activate();
    else
        deactivate();
}

void GsmConverter::activate()
{
    check("acmStreamOpen:", manager_->streamOpen(stream_, formatIn_, formatOut_, 0));
    try {
        check("acmStreamSize:", manager_->streamSize(stream_, inputBufferSize_, outputBufferSize_,
                                                      ACM_STREAMSIZEF_SOURCE));
        inputBuffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(inputBufferSize_);
        outputBuffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(outputBufferSize_);

        header_.cbStruct = kAcmStreamHeaderSize;
        header_.fdwStatus = 0;
        header_.dwUser = 0;
        header_.pbSrc = inputBuffer_.get();
        header_.cbSrcLength = inputBufferSize_;
        header_.cbSrcLengthUsed = 0;
        header_.dwSrcUser = 0;
        header_.pbDst = outputBuffer_.get();
        header_.cbDstLength = outputBufferSize_;
        header_.cbDstLengthUsed = 0;
        header_.dwDstUser = 0;
        check("acmStreamPrepareHeader:", manager_->streamPrepareHeader(stream_, header_, 0));
    } catch (...) {
        inputBuffer_.reset();
        outputBuffer_.reset();
        // Nobody would ever close the stream otherwise: the next activation opens a new one.
        manager_->streamClose(stream_, 0);
        stream_ = 0;
        throw;
    }
    active_ = true;
}

void GsmConverter::deactivate()
{
    check("acmStreamUnPrepareHeader:", manager_->streamUnprepareHeader(stream_, header_, 0));
    check("acmStreamClose:", manager_->streamClose(stream_, 0));
    stream_ = 0;
    inputBuffer_.reset();
    outputBuffer_.reset();
    active_ = false;
}

int GsmConverter::Convert()
{
    return Convert(inputBufferSize_);
}

int GsmConverter::Convert(std::uint32_t sourceBytes)
{
    if (outputBuffer_)
        std::memset(outputBuffer_.get(), 0, outputBufferSize_);
    // The prepared header keeps its full length for the next conversion, even
    // when this one raises.
    header_.cbSrcLength = std::min(sourceBytes, inputBufferSize_);
    const auto restore = qScopeGuard([this] { header_.cbSrcLength = inputBufferSize_; });
    // An inactive converter has no stream (handle 0), which the manager refuses.
    check("acmStreamConvert:", manager_->streamConvert(stream_, header_, ACM_STREAMCONVERTF_BLOCKALIGN));
    check("acmStreamReset", manager_->streamReset(stream_, 0));
    return static_cast<int>(header_.cbDstLengthUsed);
}

void GsmConverter::DefineProperties(Filer& filer)
{
    Component::DefineProperties(filer);
    filer.DefineBinaryProperty(
        QStringLiteral("ACMFormatIn"), [this](QIODevice& s) { readFormat(s, formatIn_); },
        [this](QIODevice& s) { writeFormat(s, formatIn_); }, true);
    filer.DefineBinaryProperty(
        QStringLiteral("ACMFormatOut"), [this](QIODevice& s) { readFormat(s, formatOut_); },
        [this](QIODevice& s) { writeFormat(s, formatOut_); }, true);
}

} // namespace kavelo
