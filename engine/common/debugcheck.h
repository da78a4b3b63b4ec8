// MT_ASSERT: the engine's checks of its own invariants, active in debug builds (NDEBUG not
// defined; the sanitizer build is one). A failed check prints the condition and where it is,
// then aborts: an invariant that does not hold means the engine's own state is wrong, which no
// caller could handle. Release builds compile the condition away without evaluating it, so a
// check may cost what it needs to.
#pragma once

namespace mt {

[[noreturn]] void DebugCheckFailed(const char* condition, const char* file, int line);

}  // namespace mt

#ifdef NDEBUG
#define MT_ASSERT(condition) static_cast<void>(sizeof(static_cast<bool>(condition)))
#else
#define MT_ASSERT(condition)                           \
  (static_cast<bool>(condition) ? static_cast<void>(0) \
                                : ::mt::DebugCheckFailed(#condition, __FILE__, __LINE__))
#endif
