#include "callback_timer.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>

#include "Stk.h"
#include "audio_mixer.h"
#include "game_scene.h"

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
  std::atomic<long long> overQuarter{0};           // calls whose CPU time passed a quarter period
  std::atomic<long long> overQuarterPreempted{0};  // of those, the ones preempted meanwhile
  std::atomic<long long> worstCpuFaults{0};        // page faults taken by the call of worstCpu
  std::atomic<long long> worstCpuPreemptions{0};   // preemptions during the call of worstCpu
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

// Page faults the calling thread has taken (minor and major), and the times it was preempted.
struct ThreadEvents {
  long long faults;
  long long preemptions;
};
ThreadEvents ThreadEventsSoFar() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return {usage.ru_minflt + usage.ru_majflt, usage.ru_nivcsw};
}

void KeepWorst(std::atomic<long long>& worst, long long value) {
  // Only the audio thread writes the worst values, so a plain compare and store suffices.
  if (value > worst.load(std::memory_order_relaxed)) worst.store(value, std::memory_order_relaxed);
}

// The frame loop's statistics; only the probe build counts frames.
class FrameStatistics {
 public:
  // One pass of the frame loop on the menu (game false) or the game screen; shown when drawn,
  // redrawing that share of the window.
  void Frame(bool game, bool shown, double redrawn) {
    const auto now = std::chrono::steady_clock::now();
    if (frames_ == 0) {
      firstFrameMs_ = std::chrono::duration<double, std::milli>(now - start_).count();
    } else {
      const double period = std::chrono::duration<double, std::milli>(now - last_).count();
      sum_ += period;
      sumSquares_ += period * period;
      screens_[game].seconds += period / 1000.0;
    }
    ++screens_[game].frames;
    if (shown) {
      ++screens_[game].drawn;
      screens_[game].redrawn += redrawn;
    }
    last_ = now;
    ++frames_;
  }
  void Print(std::FILE* out) const {
    const long periods = frames_ - 1;
    if (periods < 1) return;
    const double mean = sum_ / periods;
    const double spread = std::sqrt(std::max(0.0, sumSquares_ / periods - mean * mean));
    std::fprintf(out, "frame timing: first frame %.0f ms after start, %ld frames, period %.3f ms mean, %.3f ms standard deviation\n",
                 firstFrameMs_, frames_, mean, spread);
    const char* names[2] = {"menu", "game"};
    for (int i = 0; i < 2; ++i) {
      const Screen& s = screens_[i];
      if (s.frames == 0) continue;
      std::fprintf(out,
                   "frames drawn: %s %ld of %ld frames, %.1f per second over %.1f s, %.1f %% "
                   "of the window redrawn per drawn frame\n",
                   names[i], s.drawn, s.frames, s.seconds > 0.0 ? s.drawn / s.seconds : 0.0,
                   s.seconds, s.drawn > 0 ? 100.0 * s.redrawn / s.drawn : 0.0);
    }
  }

 private:
  struct Screen {
    long frames = 0;
    long drawn = 0;
    double redrawn = 0.0;  // sum of the drawn frames' shares of the window
    double seconds = 0.0;
  };
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_;
  double firstFrameMs_ = 0.0;
  double sum_ = 0.0;
  double sumSquares_ = 0.0;
  long frames_ = 0;
  Screen screens_[2];
};
FrameStatistics frameStatistics;

}  // namespace

void CountFrame([[maybe_unused]] const Scene* scene, [[maybe_unused]] bool shown,
                [[maybe_unused]] double redrawn) {
#ifdef MARLUNE_AUDIO_PROBES
  frameStatistics.Frame(dynamic_cast<const GameScene*>(scene) != nullptr, shown, redrawn);
#endif
}

int TimedAudioMixerCallback(void* outputBuffer, void* inputBuffer, unsigned int nFrames,
                            double streamTime, RtAudioStreamStatus status, void* userData) {
  const ThreadEvents before = ThreadEventsSoFar();
  const auto start = std::chrono::steady_clock::now();
  const long long cpuStart = ThreadCpuNanoseconds();
  const int result =
      AudioMixerCallback(outputBuffer, inputBuffer, nFrames, streamTime, status, userData);
  const long long cpu = ThreadCpuNanoseconds() - cpuStart;
  const long long took = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
  const ThreadEvents after = ThreadEventsSoFar();
  const long long preemptions = after.preemptions - before.preemptions;
  Slot& slot = slots[SlotOf(nFrames)];
  if (cpu > slot.worstCpuNanoseconds.load(std::memory_order_relaxed)) {
    slot.worstCpuFaults.store(after.faults - before.faults, std::memory_order_relaxed);
    slot.worstCpuPreemptions.store(preemptions, std::memory_order_relaxed);
  }
  if (4 * cpu > PeriodNanoseconds(nFrames)) {
    slot.overQuarter.fetch_add(1, std::memory_order_relaxed);
    if (preemptions > 0) slot.overQuarterPreempted.fetch_add(1, std::memory_order_relaxed);
  }
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
                 "(%.1f %%), %lld overruns; worst thread CPU %.3f ms (%.1f %%, %lld page faults, "
                 "%lld preemptions), %lld calls above 25 %% (%lld of them preempted)\n",
                 frames, calls, worstMs, periodMs, 100.0 * worstMs / periodMs,
                 slot.overruns.load(std::memory_order_relaxed), worstCpuMs,
                 100.0 * worstCpuMs / periodMs, slot.worstCpuFaults.load(std::memory_order_relaxed),
                 slot.worstCpuPreemptions.load(std::memory_order_relaxed),
                 slot.overQuarter.load(std::memory_order_relaxed),
                 slot.overQuarterPreempted.load(std::memory_order_relaxed));
  }
  frameStatistics.Print(out);
}

}  // namespace callback_timer
