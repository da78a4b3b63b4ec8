// TComponent: registration with the owner.
#include "component.h"

#include <algorithm>

namespace mt {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  for (TComponent* c : components_)
    c->owner_ = nullptr;
  if (owner_ != nullptr) {
    auto& list = owner_->components_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

}  // namespace mt
