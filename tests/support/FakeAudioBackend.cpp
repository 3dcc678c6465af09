#include "support/FakeAudioBackend.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace kavelo::test {
namespace {

// Codes a real device gives for a header it still holds or never saw prepared.
constexpr MMRESULT kStillPlaying = 33;
constexpr MMRESULT kUnprepared = 34;

std::uintptr_t nextDeviceId()
{
    // Unique for the life of the test program, like the real devices' ids.
    static std::atomic<std::uintptr_t> next{0x7000};
    return next++;
}

bool queued(const FakeAudioBackend::Device& device, const WaveHeader& header)
{
    return std::find(device.queue.begin(), device.queue.end(), &header) != device.queue.end();
}

} // namespace

// Shared by both directions: header bookkeeping and the checks on its use.
class FakeDeviceBase {
protected:
    FakeDeviceBase(std::shared_ptr<FakeAudioBackend> backend,
                   std::shared_ptr<FakeAudioBackend::Device> state, const char* name)
        : backend_(std::move(backend)), state_(std::move(state)), name_(name)
    {
    }
    ~FakeDeviceBase()
    {
        if (!state_->closed)
            misused("dropped without close");
        state_->dropped = true;
    }

    void misused(const char* what) const
    {
        backend_->misuse_.append(QStringLiteral("%1 #%2: %3").arg(QLatin1String(name_)).arg(state_->id).arg(QLatin1String(what)));
    }

    // The answer the test chose, or the device's own complaint about its use.
    MMRESULT usable(FakeAudioBackend::Op op, const WaveHeader* header, QByteArray bytes = {})
    {
        const MMRESULT code = backend_->call(op, state_->id, header, std::move(bytes));
        if (code != MMSYSERR_NOERROR)
            return code;
        if (state_->closed) {
            misused("used after close");
            return MMSYSERR_INVALHANDLE;
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT prepare(FakeAudioBackend::Op op, WaveHeader& header)
    {
        if (const MMRESULT code = usable(op, &header))
            return code;
        state_->prepared.insert(&header);
        header.dwFlags |= WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    MMRESULT unprepare(FakeAudioBackend::Op op, WaveHeader& header)
    {
        if (const MMRESULT code = usable(op, &header))
            return code;
        if (queued(*state_, header)) {
            misused("header unprepared while queued");
            return kStillPlaying;
        }
        state_->prepared.erase(&header);
        header.dwFlags &= ~WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    MMRESULT enqueue(FakeAudioBackend::Op op, WaveHeader& header, QByteArray bytes = {})
    {
        if (const MMRESULT code = usable(op, &header, std::move(bytes)))
            return code;
        if (!state_->prepared.contains(&header)) {
            misused("unprepared header queued");
            return kUnprepared;
        }
        if (queued(*state_, header)) {
            misused("header queued twice");
            return MMSYSERR_INVALPARAM;
        }
        header.dwFlags = (header.dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        state_->queue.push_back(&header);
        return MMSYSERR_NOERROR;
    }

    // Reset and close take effect whatever the test makes them answer: the
    // components ignore both results and must be able to rely on them.
    MMRESULT reset(FakeAudioBackend::Op op)
    {
        const MMRESULT code = backend_->call(op, state_->id);
        if (state_->closed)
            misused("used after close");
        else
            backend_->returnAll(*state_);
        return code;
    }

    MMRESULT close(FakeAudioBackend::Op op)
    {
        const MMRESULT code = backend_->call(op, state_->id);
        if (state_->closed)
            misused("closed twice");
        state_->queue.clear();
        state_->prepared.clear();
        state_->closed = true;
        return code;
    }

    std::shared_ptr<FakeAudioBackend> backend_;
    std::shared_ptr<FakeAudioBackend::Device> state_;
    const char* name_;
};

class FakeAudioBackend::FakeWaveIn : public WaveInDevice, private FakeDeviceBase {
public:
    FakeWaveIn(std::shared_ptr<FakeAudioBackend> backend, std::shared_ptr<Device> state)
        : FakeDeviceBase(std::move(backend), std::move(state), "capture")
    {
    }
    std::uintptr_t id() const override { return state_->id; }
    MMRESULT prepareHeader(WaveHeader& h) override { return prepare(Op::WaveInPrepareHeader, h); }
    MMRESULT unprepareHeader(WaveHeader& h) override { return unprepare(Op::WaveInUnprepareHeader, h); }
    MMRESULT addBuffer(WaveHeader& h) override { return enqueue(Op::WaveInAddBuffer, h); }
    MMRESULT start() override
    {
        if (const MMRESULT code = usable(Op::WaveInStart, nullptr))
            return code;
        state_->started = true;
        return MMSYSERR_NOERROR;
    }
    MMRESULT reset() override { return FakeDeviceBase::reset(Op::WaveInReset); }
    MMRESULT close() override { return FakeDeviceBase::close(Op::WaveInClose); }
};

class FakeAudioBackend::FakeWaveOut : public WaveOutDevice, private FakeDeviceBase {
public:
    FakeWaveOut(std::shared_ptr<FakeAudioBackend> backend, std::shared_ptr<Device> state)
        : FakeDeviceBase(std::move(backend), std::move(state), "playback")
    {
    }
    std::uintptr_t id() const override { return state_->id; }
    MMRESULT prepareHeader(WaveHeader& h) override { return prepare(Op::WaveOutPrepareHeader, h); }
    MMRESULT unprepareHeader(WaveHeader& h) override { return unprepare(Op::WaveOutUnprepareHeader, h); }
    MMRESULT write(WaveHeader& h) override
    {
        return enqueue(Op::WaveOutWrite, h, QByteArray(h.lpData, static_cast<qsizetype>(h.dwBufferLength)));
    }
    MMRESULT reset() override { return FakeDeviceBase::reset(Op::WaveOutReset); }
    MMRESULT close() override { return FakeDeviceBase::close(Op::WaveOutClose); }
};

MMRESULT FakeAudioBackend::openWaveIn(std::unique_ptr<WaveInDevice>& device, const WaveFormat& format,
                                      std::shared_ptr<NotificationTarget> notify)
{
    if (const MMRESULT code = call(Op::WaveInOpen, 0))
        return code;
    auto state = std::make_shared<Device>();
    state->capture = true;
    state->id = nextDeviceId();
    state->format = format;
    state->target = std::move(notify);
    calls_.back().device = state->id;
    devices_.push_back(state);
    device = std::make_unique<FakeWaveIn>(shared_from_this(), std::move(state));
    return MMSYSERR_NOERROR;
}

MMRESULT FakeAudioBackend::openWaveOut(std::unique_ptr<WaveOutDevice>& device, const WaveFormat& format,
                                       std::shared_ptr<NotificationTarget> notify)
{
    if (const MMRESULT code = call(Op::WaveOutOpen, 0))
        return code;
    auto state = std::make_shared<Device>();
    state->id = nextDeviceId();
    state->format = format;
    state->target = std::move(notify);
    state->started = true;
    calls_.back().device = state->id;
    devices_.push_back(state);
    device = std::make_unique<FakeWaveOut>(shared_from_this(), std::move(state));
    return MMSYSERR_NOERROR;
}

void FakeAudioBackend::answer(Op op, MMRESULT code, int nth)
{
    rules_.emplace(op, Rule{callCounts_[op] + nth, code});
}

void FakeAudioBackend::answerAlways(Op op, MMRESULT code)
{
    rules_.emplace(op, Rule{0, code});
}

void FakeAudioBackend::clearAnswers()
{
    rules_.clear();
}

MMRESULT FakeAudioBackend::call(Op op, std::uintptr_t device, const WaveHeader* header, QByteArray bytes)
{
    calls_.push_back({op, device, header, std::move(bytes)});
    const int number = ++callCounts_[op];
    const auto [first, last] = rules_.equal_range(op);
    for (auto rule = first; rule != last; ++rule) {
        if (rule->second.callNumber == 0)
            return rule->second.code;
        if (rule->second.callNumber == number) {
            const MMRESULT code = rule->second.code;
            rules_.erase(rule);
            return code;
        }
    }
    return MMSYSERR_NOERROR;
}

void FakeAudioBackend::notify(Device& device, quint32 number, WaveHeader* header)
{
    const NotificationMessage message{number, device.id, reinterpret_cast<qintptr>(header)};
    if (holding_)
        held_.push_back({device.target, message});
    else
        device.target->post(message);
}

void FakeAudioBackend::returnAll(Device& device)
{
    bool head = true;
    for (WaveHeader* header : device.queue) {
        header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        if (device.capture) {
            const std::uint32_t count = head ? std::min(bytesAtReset_, header->dwBufferLength) : 0;
            std::memset(header->lpData, 0x55, count);
            header->dwBytesRecorded = count;
        }
        head = false;
        notify(device, device.capture ? kMmWimData : kMmWomDone, header);
    }
    device.queue.clear();
}

bool FakeAudioBackend::fill(QByteArrayView bytes, std::optional<std::uint32_t> reportedCount)
{
    Device* device = openCapture();
    if (device == nullptr || !device->started || device->queue.empty())
        return false;
    WaveHeader* header = device->queue.front();
    device->queue.pop_front();
    const auto count = static_cast<std::uint32_t>(
        std::min<qsizetype>(bytes.size(), static_cast<qsizetype>(header->dwBufferLength)));
    if (count > 0)
        std::memcpy(header->lpData, bytes.data(), count);
    header->dwBytesRecorded = reportedCount.value_or(count);
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    notify(*device, kMmWimData, header);
    return true;
}

bool FakeAudioBackend::fill(std::uint32_t count, char value)
{
    return fill(QByteArray(static_cast<qsizetype>(count), value));
}

bool FakeAudioBackend::finish()
{
    Device* device = openPlayback();
    if (device == nullptr || device->queue.empty())
        return false;
    WaveHeader* header = device->queue.front();
    device->queue.pop_front();
    played_.append(header->lpData, static_cast<qsizetype>(header->dwBufferLength));
    header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    notify(*device, kMmWomDone, header);
    return true;
}

void FakeAudioBackend::deliverHeld()
{
    std::vector<Held> held;
    held.swap(held_);
    for (const Held& message : held)
        message.target->post(message.message);
}

void FakeAudioBackend::postAs(const Device& device, quint32 number, const void* header)
{
    device.target->post({number, device.id, reinterpret_cast<qintptr>(header)});
}

int FakeAudioBackend::count(Op op) const
{
    return static_cast<int>(std::count_if(calls_.begin(), calls_.end(), [op](const Call& c) { return c.op == op; }));
}

std::vector<const WaveHeader*> FakeAudioBackend::headers(Op op) const
{
    std::vector<const WaveHeader*> result;
    for (const Call& c : calls_) {
        if (c.op == op)
            result.push_back(c.header);
    }
    return result;
}

FakeAudioBackend::Device* FakeAudioBackend::lastOpen(bool capture) const
{
    for (auto device = devices_.rbegin(); device != devices_.rend(); ++device) {
        if ((*device)->capture == capture)
            return (*device)->closed ? nullptr : device->get();
    }
    return nullptr;
}

FakeAudioBackend::Device* FakeAudioBackend::openCapture() const { return lastOpen(true); }
FakeAudioBackend::Device* FakeAudioBackend::openPlayback() const { return lastOpen(false); }

InstalledFakeAudio::InstalledFakeAudio() : fake_(std::make_shared<FakeAudioBackend>())
{
    setDefaultAudioBackend(fake_);
}

InstalledFakeAudio::~InstalledFakeAudio()
{
    // Back to the platform's own backend, created afresh when next asked for.
    setDefaultAudioBackend(nullptr);
}

void FakeAudioBackend::forgetHistory()
{
    calls_.clear();
    played_.clear();
    std::erase_if(devices_, [](const std::shared_ptr<Device>& device) { return device->closed; });
}

} // namespace kavelo::test
