// marlune_desktop_load SECONDS - the load a busy desktop puts beside the program, for SECONDS
// (or until SIGTERM or SIGINT), at normal priority:
//   - memory churn, as a web browser makes it: 600 MB allocated, every page of it touched,
//     then freed again, and after a pause of 0.2 s the same again (the allocator hands blocks
//     this large straight back to the system, so each round maps, faults in and unmaps them
//     anew; on a two-core machine a round takes about 0.3 s);
//   - one core kept busy by a thread that only spins.
// Prints one line at the end: the rounds of churn done and the longest round, milliseconds.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

constexpr size_t kChurnBytes = 600u << 20;
constexpr auto kChurnPause = std::chrono::milliseconds(200);

std::atomic<bool> stop{false};

void OnSignal(int) { stop.store(true); }

void Spin() {
  volatile unsigned long counter = 0;
  while (!stop.load(std::memory_order_relaxed)) counter = counter + 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::atof(argv[1]) <= 0) {
    std::fprintf(stderr, "usage: marlune_desktop_load SECONDS\n");
    return 2;
  }
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(std::atof(argv[1])));
  std::thread spinner(Spin);
  const long page = sysconf(_SC_PAGESIZE);
  long rounds = 0;
  Clock::duration longest{};
  while (!stop.load() && Clock::now() < end) {
    const auto start = Clock::now();
    auto* block = static_cast<volatile char*>(std::malloc(kChurnBytes));
    if (block == nullptr) {
      std::fprintf(stderr, "marlune_desktop_load: cannot allocate %zu bytes\n", kChurnBytes);
      stop.store(true);
      break;
    }
    for (size_t i = 0; i < kChurnBytes; i += static_cast<size_t>(page)) block[i] = static_cast<char>(i);
    std::free(const_cast<char*>(block));
    ++rounds;
    longest = std::max(longest, Clock::now() - start);
    std::this_thread::sleep_for(kChurnPause);
  }
  stop.store(true);
  spinner.join();
  std::printf("desktop load: %ld rounds of churn, the longest %lld ms\n", rounds,
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()));
  return 0;
}
