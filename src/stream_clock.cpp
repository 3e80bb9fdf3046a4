#include "stream_clock.h"

#include <chrono>

#include "Stk.h"

namespace {
int64_t MonotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

void CallbackStreamClock::BufferBegins(double streamTime, unsigned int frames) {
  const uint32_t sequence = sequence_.load(std::memory_order_relaxed);
  sequence_.store(sequence + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  time_.store(streamTime, std::memory_order_relaxed);
  length_.store(frames / SampleRate(), std::memory_order_relaxed);
  beganNs_.store(MonotonicNs(), std::memory_order_relaxed);
  sequence_.store(sequence + 2, std::memory_order_release);
}

double CallbackStreamClock::StreamTime() {
  const uint32_t before = sequence_.load(std::memory_order_acquire);
  if (before % 2 != 0) return lastTime_;
  const double time = time_.load(std::memory_order_relaxed);
  const double length = length_.load(std::memory_order_relaxed);
  const int64_t began = beganNs_.load(std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_acquire);
  if (sequence_.load(std::memory_order_relaxed) != before) return lastTime_;
  if (began == 0) return lastTime_;
  double since = (MonotonicNs() - began) / 1e9;
  if (since < 0.0) since = 0.0;
  if (since > length) since = length;
  lastTime_ = time + since;
  return lastTime_;
}

double CallbackStreamClock::SampleRate() {
  const double rate = rate_.load(std::memory_order_relaxed);
  return rate > 0.0 ? rate : stk::Stk::sampleRate();
}
