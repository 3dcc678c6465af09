#include "audio/DeviceBuffers.h"

#include <algorithm>

namespace kavelo {

DeviceBuffers::DeviceBuffers(NotificationWindow::Handler onMessage)
    : window_(std::make_unique<NotificationWindow>(std::move(onMessage)))
{
}

DeviceBuffers::~DeviceBuffers()
{
    release();
    window_.reset();
}

DeviceBuffer& DeviceBuffers::add()
{
    buffers_.push_back(std::make_unique<DeviceBuffer>());
    return *buffers_.back();
}

DeviceBuffers::List::iterator DeviceBuffers::find(qintptr header)
{
    // Compared as numbers: a header that was freed is never dereferenced.
    return std::find_if(buffers_.begin(), buffers_.end(), [header](const auto& buffer) {
        return reinterpret_cast<qintptr>(&buffer->header) == header;
    });
}

void DeviceBuffers::release()
{
    while (!buffers_.empty())
        buffers_.pop_back();
}

} // namespace kavelo
