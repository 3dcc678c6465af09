#include "platform/compression/AcmStream.h"
#include "platform/compression/GsmCompressionManager.h"

namespace kavelo {
namespace {

std::shared_ptr<AudioCompressionManager>& installedManager()
{
    static std::shared_ptr<AudioCompressionManager> manager;
    return manager;
}

} // namespace

std::shared_ptr<AudioCompressionManager> defaultCompressionManager()
{
    auto& manager = installedManager();
    if (!manager)
        manager = std::make_shared<GsmCompressionManager>();
    return manager;
}

void setDefaultCompressionManager(std::shared_ptr<AudioCompressionManager> manager)
{
    installedManager() = std::move(manager);
}

} // namespace kavelo
