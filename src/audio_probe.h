#pragma once
// Marks on the audio thread that let checks tell what the mixer callback does from what the
// design allows it to do.
//
// The mixer opens a CallbackScope for each buffer. Inside it, the thread must not allocate,
// free, lock or touch files, with two exceptions the design makes: taking and releasing the
// pad-list mutex, and the recorder's file open, writes and close. Each of those calls runs
// inside an Exemption, which
// - lifts the RealtimeSanitizer's checks for that call alone (in a realtime-sanitizer build),
// - tells the test build's allocation and lock counters to leave the call out,
// - times the recorder's calls, so their worst case can be reported.
//
// Everything here is a few thread-local counter updates (and two clock reads per recorder
// call), so it is always compiled in. Threads: the scopes, Strict() and InCallback() concern
// the calling thread only; the worst durations are safe from any thread.

#include <chrono>

#ifdef MARLUNE_RTSAN
#include <sanitizer/rtsan_interface.h>
#endif

namespace audio_probe {

// What an Exemption lets through.
enum class Allowed {
  kPadListMutex,   // gameState.mutex: lock or unlock
  kRecorderOpen,   // creating the recording's file
  kRecorderWrite,  // appending one buffer to it
  kRecorderClose,  // completing and closing it
  kCount
};

namespace detail {
inline thread_local int callbackDepth = 0;
inline thread_local int exemptionDepth = 0;
// Records the duration of one exempted call, nanoseconds.
void Record(Allowed what, long long nanoseconds);
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
  explicit Exemption(Allowed what) : what_(what), timed_(what != Allowed::kPadListMutex) {
    ++detail::exemptionDepth;
    if (timed_) start_ = std::chrono::steady_clock::now();
  }
  ~Exemption() {
    if (timed_) {
      const auto elapsed = std::chrono::steady_clock::now() - start_;
      detail::Record(what_, std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
    }
    --detail::exemptionDepth;
  }
  Exemption(const Exemption&) = delete;
  Exemption& operator=(const Exemption&) = delete;

 private:
#ifdef MARLUNE_RTSAN
  // Declared first, so it is active before the clock read and until after the last one.
  __rtsan::ScopedDisabler rtsanOff_;
#endif
  const Allowed what_;
  const bool timed_;
  std::chrono::steady_clock::time_point start_;
};

// Longest exempted call of a kind so far, seconds (0 for the pad-list mutex, which is not
// timed). Any thread.
double WorstSeconds(Allowed what);
// Number of timed exempted calls of a kind so far. Any thread.
long long Calls(Allowed what);
// Forgets the durations and counts. Any thread.
void ResetTimings();

}  // namespace audio_probe
