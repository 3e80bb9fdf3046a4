// Cost of the whole mixer callback on the game screen: the thirteen pads of a new game, every
// step of every wave loop pad holding a note, the metronome on, echoes ringing, recording off.
// Counters: period_us (the buffer's playing time), us_per_buffer (wall-clock microseconds per
// buffer) and period_pct (that as a percentage of the period: the share of the audio thread's
// budget one buffer uses); cpu_us_per_buffer and cpu_period_pct are the same from the thread's
// CPU time, which other processes on a busy machine do not inflate.

#include <benchmark/benchmark.h>

#include <time.h>

#include <chrono>
#include <vector>

#include "audio_mixer.h"
#include "bench_support.h"
#include "game_state.h"

namespace {

FakeInput input;
FakeClock benchClock;
double streamTime = -1.0;

// CPU time the calling thread has used, seconds.
double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

void BM_MixerCallbackFullGame(benchmark::State& state) {
  if (streamTime < 0.0) {
    if (!EnterResourceFolder()) {
      state.SkipWithError("generated content missing: build the default target first");
      return;
    }
    streamTime = PrepareFullGame(input, benchClock);
  }
  const unsigned int frames = static_cast<unsigned int>(state.range(0));
  const double period = frames / 44100.0;
  gameState.bufferFrames.store(frames);
  std::vector<double> out(2 * frames);

  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = ThreadCpuSeconds();
  for (auto _ : state) {
    AudioMixerCallback(out.data(), nullptr, frames, streamTime, 0, nullptr);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
    streamTime += period;
  }
  const double cpuPerBuffer =
      (ThreadCpuSeconds() - cpuStart) / static_cast<double>(state.iterations());
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const double perBuffer = elapsed.count() / static_cast<double>(state.iterations());
  state.counters["period_us"] = 1e6 * period;
  state.counters["us_per_buffer"] = 1e6 * perBuffer;
  state.counters["period_pct"] = 100.0 * perBuffer / period;
  state.counters["cpu_us_per_buffer"] = 1e6 * cpuPerBuffer;
  state.counters["cpu_period_pct"] = 100.0 * cpuPerBuffer / period;
}

}  // namespace

BENCHMARK(BM_MixerCallbackFullGame)->Arg(64)->Arg(512)->Arg(2048)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
