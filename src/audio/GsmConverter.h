#pragma once

#include "platform/compression/AcmStream.h"
#include "platform/Component.h"
#include "platform/Exception.h"
#include "platform/WaveFormat.h"

#include <cstdint>
#include <memory>

namespace kavelo {

class GsmConverterError : public Exception {
public:
    using Exception::Exception;
};

// Converts blocks of audio from ACMFormatIn to ACMFormatOut through one compression
// stream, synchronously. The caller fills exactly InputBufferSize bytes of
// InputBuffer, calls Convert and takes the returned number of bytes from OutputBuffer.
// Buffers, header and stream exist only while active; nothing is allocated per Convert.
class GsmConverter : public Component {
    Q_OBJECT
    Q_PROPERTY(quint32 InputBufferSize READ InputBufferSize WRITE setInputBufferSize)
public:
    explicit GsmConverter(QObject* owner = nullptr,
                           std::shared_ptr<AudioCompressionManager> manager = defaultCompressionManager());
    ~GsmConverter() override;

    bool Active() const { return active_; }
    void setActive(bool value);

    std::uint32_t InputBufferSize() const { return inputBufferSize_; }
    // Refused while active: the buffers and the prepared header have their size.
    void setInputBufferSize(std::uint32_t value);
    // The stream's destination size for InputBufferSize source bytes; set at activation.
    std::uint32_t OutputBufferSize() const { return outputBufferSize_; }

    std::uint8_t* InputBuffer() const { return inputBuffer_.get(); }
    std::uint8_t* OutputBuffer() const { return outputBuffer_.get(); }

    // The capture and playback components are opened with these very records.
    WaveFormat& ACMFormatIn() { return formatIn_; }
    WaveFormat& ACMFormatOut() { return formatOut_; }

    // Converts the whole input buffer; returns the bytes written to OutputBuffer.
    int Convert();
    // Converts the first `sourceBytes` of the input buffer (at most all of it),
    // in whole blocks: what a partly filled buffer holds, and nothing after it.
    int Convert(std::uint32_t sourceBytes);

    void DefineProperties(Filer& filer) override;

private:
    void activate();
    void deactivate();

    std::shared_ptr<AudioCompressionManager> manager_;
    bool active_ = false;
    std::unique_ptr<std::uint8_t[]> inputBuffer_;
    std::unique_ptr<std::uint8_t[]> outputBuffer_;
    std::uint32_t inputBufferSize_ = 0;
    std::uint32_t outputBufferSize_ = 0;
    HACMSTREAM stream_ = 0;
    AcmStreamHeader header_;
    WaveFormat formatIn_;
    WaveFormat formatOut_;
};

} // namespace kavelo
