#pragma once
// Marks on the audio thread that let checks tell what the mixer callback does from what the
// design allows it to do.
//
// The mixer opens a CallbackScope for each buffer. Inside it, the thread must not allocate,
// free, lock or touch files, with one exception the design makes: taking and releasing the
// pad-list mutex (held by the main thread only for pointer swaps). Those calls run inside an
// Exemption, which
// - lifts the RealtimeSanitizer's checks for that call alone (in a realtime-sanitizer build),
// - tells the test build's allocation and lock counters to leave the call out.
// The recorder does no file work here: the callback only copies into its lock-free ring.
//
// Everything here is a few thread-local counter updates, so it is always compiled in.
// Threads: the scopes, Strict() and InCallback() concern the calling thread only.

#ifdef MARLUNE_RTSAN
#include <sanitizer/rtsan_interface.h>
#endif

namespace audio_probe {

// What an Exemption lets through.
enum class Allowed {
  kPadListMutex,  // gameState.mutex: lock or unlock
};

namespace detail {
inline thread_local int callbackDepth = 0;
inline thread_local int exemptionDepth = 0;
}  // namespace detail

// True while the calling thread runs the mixer callback.
inline bool InCallback() { return detail::callbackDepth > 0; }
// True while the calling thread runs the mixer callback outside every exemption: where the
// real-time rules hold.
inline bool Strict() { return detail::callbackDepth > 0 && detail::exemptionDepth == 0; }

// Marks the calling thread as running the mixer callback for the scope's lifetime.
class CallbackScope {
 public:
  CallbackScope() { ++detail::callbackDepth; }
  ~CallbackScope() { --detail::callbackDepth; }
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;
};

// Lets one call that the design allows on the audio thread through the real-time checks.
// Keep it around exactly that call.
class Exemption final {
 public:
  explicit Exemption(Allowed /*what*/) { ++detail::exemptionDepth; }
  ~Exemption() { --detail::exemptionDepth; }
  Exemption(const Exemption&) = delete;
  Exemption& operator=(const Exemption&) = delete;

 private:
#ifdef MARLUNE_RTSAN
  __rtsan::ScopedDisabler rtsanOff_;
#endif
};

}  // namespace audio_probe
