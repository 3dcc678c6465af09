#include "platform/Component.h"

namespace kavelo {

Component::Component(QObject* owner) : QObject(owner) {}

Component::~Component() = default;

void Component::setDesigning(bool designing)
{
    state_.setFlag(csDesigning, designing);
}

void Component::Loaded()
{
    state_.setFlag(csLoading, false);
}

void Component::DefineProperties(Filer&) {}

} // namespace kavelo
