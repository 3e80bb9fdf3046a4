#include "audio_probe.h"

#include <array>
#include <atomic>

namespace audio_probe {
namespace {
constexpr int kKinds = static_cast<int>(Allowed::kCount);
std::array<std::atomic<long long>, kKinds> worstNanoseconds{};
std::array<std::atomic<long long>, kKinds> calls{};
}  // namespace

namespace detail {
void Record(Allowed what, long long nanoseconds) {
  const int k = static_cast<int>(what);
  calls[k].fetch_add(1, std::memory_order_relaxed);
  long long worst = worstNanoseconds[k].load(std::memory_order_relaxed);
  while (nanoseconds > worst &&
         !worstNanoseconds[k].compare_exchange_weak(worst, nanoseconds,
                                                     std::memory_order_relaxed)) {
  }
}
}  // namespace detail

double WorstSeconds(Allowed what) {
  return static_cast<double>(
             worstNanoseconds[static_cast<int>(what)].load(std::memory_order_relaxed)) *
         1e-9;
}

long long Calls(Allowed what) {
  return calls[static_cast<int>(what)].load(std::memory_order_relaxed);
}

void ResetTimings() {
  for (int k = 0; k < kKinds; ++k) {
    worstNanoseconds[k].store(0, std::memory_order_relaxed);
    calls[k].store(0, std::memory_order_relaxed);
  }
}

}  // namespace audio_probe
