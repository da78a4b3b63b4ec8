// TComponent: the owner link the dataset layer's components share (sessions, databases,
// datasets). An owner is whatever groups components for one use, typically one window: a
// dataset looks for its database among the components of its owner first, and an
// automatically named session renames the datasets and databases of its owner.
//
// The link does not own: components are members or smart pointers of whoever creates them, and
// each one leaves its owner's list when it is destroyed (an owner destroyed first clears the
// links of those left).
//
// Thread-safety: an owner and its components are used by one thread at a time.
#pragma once

#include <string>
#include <vector>

namespace mt {

class TComponent {
 public:
  explicit TComponent(TComponent* owner = nullptr);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  // The components that name this one as their owner, in creation order.
  const std::vector<TComponent*>& Components() const { return components_; }

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

 private:
  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
};

}  // namespace mt
