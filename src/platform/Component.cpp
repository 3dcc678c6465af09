#include "platform/Component.h"

namespace kavelo {

TComponent::TComponent(QObject* owner) : QObject(owner) {}

TComponent::~TComponent() = default;

void TComponent::setDesigning(bool designing)
{
    state_.setFlag(csDesigning, designing);
}

void TComponent::Loaded()
{
    state_.setFlag(csLoading, false);
}

void TComponent::DefineProperties(Filer&) {}

} // namespace kavelo
