#include "callback_timer.h"

#include <time.h>

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
  std::atomic<long long> worstCpuNanoseconds{0};
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

// CPU time the calling thread has used, nanoseconds: unlike the wall clock it does not count
// the time the thread was preempted.
long long ThreadCpuNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void KeepWorst(std::atomic<long long>& worst, long long value) {
  // Only the audio thread writes the worst values, so a plain compare and store suffices.
  if (value > worst.load(std::memory_order_relaxed)) worst.store(value, std::memory_order_relaxed);
}

}  // namespace

int TimedAudioMixerCallback(void* outputBuffer, void* inputBuffer, unsigned int nFrames,
                            double streamTime, RtAudioStreamStatus status, void* userData) {
  const auto start = std::chrono::steady_clock::now();
  const long long cpuStart = ThreadCpuNanoseconds();
  const int result =
      AudioMixerCallback(outputBuffer, inputBuffer, nFrames, streamTime, status, userData);
  const long long cpu = ThreadCpuNanoseconds() - cpuStart;
  const long long took = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
  Slot& slot = slots[SlotOf(nFrames)];
  slot.frames.store(nFrames, std::memory_order_relaxed);
  slot.calls.fetch_add(1, std::memory_order_relaxed);
  if (took > PeriodNanoseconds(nFrames)) slot.overruns.fetch_add(1, std::memory_order_relaxed);
  KeepWorst(slot.worstNanoseconds, took);
  KeepWorst(slot.worstCpuNanoseconds, cpu);
  return result;
}

void Print(std::FILE* out) {
  for (const Slot& slot : slots) {
    const long long calls = slot.calls.load(std::memory_order_relaxed);
    if (calls == 0) continue;
    const unsigned int frames = slot.frames.load(std::memory_order_relaxed);
    const double worstMs = slot.worstNanoseconds.load(std::memory_order_relaxed) * 1e-6;
    const double worstCpuMs = slot.worstCpuNanoseconds.load(std::memory_order_relaxed) * 1e-6;
    const double periodMs = PeriodNanoseconds(frames) * 1e-6;
    std::fprintf(out,
                 "callback timing: %u frames, %lld calls, worst %.3f ms of a %.3f ms buffer "
                 "(%.1f %%), %lld overruns; worst thread CPU %.3f ms (%.1f %%)\n",
                 frames, calls, worstMs, periodMs, 100.0 * worstMs / periodMs,
                 slot.overruns.load(std::memory_order_relaxed), worstCpuMs,
                 100.0 * worstCpuMs / periodMs);
  }
}

}  // namespace callback_timer
