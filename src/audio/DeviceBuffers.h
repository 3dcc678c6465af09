#pragma once

#include "platform/AudioDevice.h"
#include "platform/NotificationWindow.h"

#include <QtGlobal>
#include <memory>
#include <vector>

namespace kavelo {

// Header and data area allocated together; the device knows the buffer by
// the header's address. The data area is freed before its header.
struct DeviceBuffer {
    WaveHeader header;
    std::unique_ptr<char[]> data;
    quint32 dataSize = 0;
};

// What a capture or playback component hands its device: the buffers, and the
// hidden window the device's "buffer done" messages arrive at.
class DeviceBuffers {
public:
    using List = std::vector<std::unique_ptr<DeviceBuffer>>;

    explicit DeviceBuffers(NotificationWindow::Handler onMessage);
    // Frees the buffers, then closes the window.
    ~DeviceBuffers();

    DeviceBuffers(const DeviceBuffers&) = delete;
    DeviceBuffers& operator=(const DeviceBuffers&) = delete;

    std::shared_ptr<NotificationTarget> target() const { return window_->target(); }

    // A new, empty buffer at the end of the list. It joins the list before its
    // data area exists, so that release() frees it even when that allocation fails.
    DeviceBuffer& add();
    // The buffer whose header a device message names, or end().
    List::iterator find(qintptr header);
    List::iterator end() { return buffers_.end(); }
    std::size_t size() const { return buffers_.size(); }
    void erase(List::iterator buffer) { buffers_.erase(buffer); }
    // Frees every buffer, the newest first.
    void release();

private:
    List buffers_;
    std::unique_ptr<NotificationWindow> window_;
};

} // namespace kavelo
