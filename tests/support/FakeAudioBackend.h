#pragma once

#include "platform/AudioDevice.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace kavelo::test {

class FakeDeviceBase;

// An in-process sound card driven by the test: capture buffers are filled and
// playback buffers finished only when the test says so, any operation can be
// made to answer a chosen result code, every call is recorded, and notifications
// can be held back and delivered late (after a close, after a new open).
//
// Its devices also check how they are used (a buffer queued twice, a header
// unprepared while queued, a call after close, a device dropped unclosed) and
// list each such mistake in misuse(); tests expect that list to stay empty.
//
// Create it with std::make_shared; the devices it opens keep it alive.
class FakeAudioBackend : public AudioBackend, public std::enable_shared_from_this<FakeAudioBackend> {
public:
    enum class Op {
        WaveInOpen,
        WaveInPrepareHeader,
        WaveInUnprepareHeader,
        WaveInAddBuffer,
        WaveInStart,
        WaveInReset,
        WaveInClose,
        WaveOutOpen,
        WaveOutPrepareHeader,
        WaveOutUnprepareHeader,
        WaveOutWrite,
        WaveOutReset,
        WaveOutClose,
    };

    struct Call {
        Op op;
        std::uintptr_t device = 0;       // 0 for an open that failed
        const WaveHeader* header = nullptr;
        QByteArray bytes;                // WaveOutWrite: the block as written
    };

    // What the backend knows of one device it opened; kept after the close.
    struct Device {
        bool capture = false;
        std::uintptr_t id = 0;
        WaveFormat format;
        std::shared_ptr<NotificationTarget> target;
        std::deque<WaveHeader*> queue;   // added or written, not yet returned
        std::set<const WaveHeader*> prepared;
        bool started = false;
        bool closed = false;
        bool dropped = false;            // the component let go of the device object
    };

    FakeAudioBackend() = default;
    FakeAudioBackend(const FakeAudioBackend&) = delete;
    FakeAudioBackend& operator=(const FakeAudioBackend&) = delete;

    MMRESULT openWaveIn(std::unique_ptr<WaveInDevice>& device, const WaveFormat& format,
                        std::shared_ptr<NotificationTarget> notify) override;
    MMRESULT openWaveOut(std::unique_ptr<WaveOutDevice>& device, const WaveFormat& format,
                         std::shared_ptr<NotificationTarget> notify) override;
    void setEchoCancellation(bool on) override { echoCancellation = on; }

    // What the program last asked of the echo canceller.
    bool echoCancellation = true;

    // --- Answers ---------------------------------------------------------------
    // The nth call of op from now on (1 = the next one) answers code and has no
    // effect; a reset or close still takes effect, since components ignore their results.
    void answer(Op op, MMRESULT code, int nth = 1);
    // Every call of op answers code until clearAnswers().
    void answerAlways(Op op, MMRESULT code);
    void clearAnswers();

    // --- Capture ---------------------------------------------------------------
    // The open capture device returns the buffer at the head of its queue with
    // these bytes (cut to the buffer's length). reportedCount overrides the byte
    // count written to the header, to play a device that reports nonsense.
    // False when nothing is queued.
    bool fill(QByteArrayView bytes, std::optional<std::uint32_t> reportedCount = {});
    // Fills the head buffer with count copies of value.
    bool fill(std::uint32_t count, char value);
    // Bytes the head buffer holds when a reset hands it back (the rest come back empty).
    void setBytesRecordedAtReset(std::uint32_t count) { bytesAtReset_ = count; }

    // --- Playback --------------------------------------------------------------
    // The open playback device finishes the buffer at the head of its queue;
    // false when nothing is queued.
    bool finish();
    // Everything finished so far, in playing order.
    const QByteArray& played() const { return played_; }

    // --- Late notifications ----------------------------------------------------
    // While holding, devices keep their messages here instead of posting them.
    void holdNotifications(bool hold) { holding_ = hold; }
    // Posts every held message to the window it was meant for, in order.
    void deliverHeld();
    std::size_t heldCount() const { return held_.size(); }
    // Posts a message as if a device had sent it: any device id, any header
    // address, including freed ones.
    void postAs(const Device& device, quint32 number, const void* header);

    // --- Inspection ------------------------------------------------------------
    const std::vector<Call>& calls() const { return calls_; }
    int count(Op op) const;
    std::vector<const WaveHeader*> headers(Op op) const;
    const std::vector<std::shared_ptr<Device>>& devices() const { return devices_; }
    // The capture / playback device opened last and not yet closed, or null.
    Device* openCapture() const;
    Device* openPlayback() const;
    const QStringList& misuse() const { return misuse_; }
    // Drops the record of calls, played sound and closed devices, so that a
    // long run (a fuzzer) keeps its memory flat. Answers and counts stay.
    void forgetHistory();

private:
    class FakeWaveIn;
    class FakeWaveOut;
    friend class FakeDeviceBase;

    struct Rule {
        int callNumber;  // 0: every call
        MMRESULT code;
    };

    // Records the call and gives the chosen answer (0 unless a rule says otherwise).
    MMRESULT call(Op op, std::uintptr_t device, const WaveHeader* header = nullptr,
                  QByteArray bytes = {});
    void notify(Device& device, quint32 number, WaveHeader* header);
    void returnAll(Device& device);
    void misused(const QString& what) { misuse_.append(what); }
    Device* lastOpen(bool capture) const;

    std::vector<Call> calls_;
    std::map<Op, int> callCounts_;
    std::multimap<Op, Rule> rules_;
    std::vector<std::shared_ptr<Device>> devices_;
    struct Held {
        std::shared_ptr<NotificationTarget> target;
        NotificationMessage message;
    };
    std::vector<Held> held_;
    bool holding_ = false;
    std::uint32_t bytesAtReset_ = 0;
    QByteArray played_;
    QStringList misuse_;
};

// Makes new audio components use a fake while it lives; afterwards they get the
// platform's own backend again. Not meant to be nested.
class InstalledFakeAudio {
public:
    InstalledFakeAudio();
    ~InstalledFakeAudio();
    InstalledFakeAudio(const InstalledFakeAudio&) = delete;
    InstalledFakeAudio& operator=(const InstalledFakeAudio&) = delete;

    FakeAudioBackend& operator*() const { return *fake_; }
    FakeAudioBackend* operator->() const { return fake_.get(); }
    const std::shared_ptr<FakeAudioBackend>& backend() const { return fake_; }

private:
    std::shared_ptr<FakeAudioBackend> fake_;
};

} // namespace kavelo::test
