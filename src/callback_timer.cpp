#include "callback_timer.h"

#include <atomic>
#include <chrono>

#include "Stk.h"
#include "audio_mixer.h"

namespace callback_timer {
namespace {

// One slot per power of two up to 2^13 frames; a size that is not a power of two shares the
// slot of the next power of two above it.
constexpr int kSlots = 14;

struct Slot {
  std::atomic<unsigned int> frames{0};
  std::atomic<long long> calls{0};
  std::atomic<long long> worstNanoseconds{0};
  std::atomic<long long> overruns{0};
};
Slot slots[kSlots];

int SlotOf(unsigned int nFrames) {
  int k = 0;
  while (k < kSlots - 1 && (1u << k) < nFrames) ++k;
  return k;
}

// Buffer duration in nanoseconds at the synthesis library's (and the stream's) sample rate.
long long PeriodNanoseconds(unsigned int nFrames) {
  return static_cast<long long>(1e9 * nFrames / stk::Stk::sampleRate());
}

}  // namespace

int TimedAudioMixerCallback(void* outputBuffer, void* inputBuffer, unsigned int nFrames,
                            double streamTime, RtAudioStreamStatus status, void* userData) {
  const auto start = std::chrono::steady_clock::now();
  const int result =
      AudioMixerCallback(outputBuffer, inputBuffer, nFrames, streamTime, status, userData);
  const long long took = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
  Slot& slot = slots[SlotOf(nFrames)];
  slot.frames.store(nFrames, std::memory_order_relaxed);
  slot.calls.fetch_add(1, std::memory_order_relaxed);
  if (took > PeriodNanoseconds(nFrames)) slot.overruns.fetch_add(1, std::memory_order_relaxed);
  // Only the audio thread writes the worst value, so a plain compare and store suffices.
  if (took > slot.worstNanoseconds.load(std::memory_order_relaxed)) {
    slot.worstNanoseconds.store(took, std::memory_order_relaxed);
  }
  return result;
}

void Print(std::FILE* out) {
  for (const Slot& slot : slots) {
    const long long calls = slot.calls.load(std::memory_order_relaxed);
    if (calls == 0) continue;
    const unsigned int frames = slot.frames.load(std::memory_order_relaxed);
    const double worstMs = slot.worstNanoseconds.load(std::memory_order_relaxed) * 1e-6;
    const double periodMs = PeriodNanoseconds(frames) * 1e-6;
    std::fprintf(out,
                 "callback timing: %u frames, %lld calls, worst %.3f ms of a %.3f ms buffer "
                 "(%.1f %%), %lld overruns\n",
                 frames, calls, worstMs, periodMs, 100.0 * worstMs / periodMs,
                 slot.overruns.load(std::memory_order_relaxed));
  }
}

}  // namespace callback_timer
