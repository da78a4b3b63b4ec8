// A process-wide slot that tests and tools can point at a stand-in for a while: the program's
// message boxes, desktop services and data directory each keep one. The scope puts its value
// in the slot and puts the previous one back when it ends, so scopes nest.
// Only the GUI thread touches these slots.
#pragma once

template <class T>
class TScopedOverride {
 public:
  TScopedOverride(T*& slot, T* value) : slot_(slot), previous_(slot) { slot_ = value; }
  ~TScopedOverride() { slot_ = previous_; }
  TScopedOverride(const TScopedOverride&) = delete;
  TScopedOverride& operator=(const TScopedOverride&) = delete;

 private:
  T*& slot_;
  T* previous_;
};
