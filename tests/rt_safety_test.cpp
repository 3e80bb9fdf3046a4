// Counts what the mixer callback must never do. In a plain build this binary replaces malloc,
// free and pthread_mutex_lock with counting versions: a call made on a thread inside the mixer
// callback and outside every audio_probe::Exemption (the pad-list mutex) is counted. The golden
// performance (golden_test.cpp), the whole game played through, must leave the count at zero.
// Sanitizer builds keep their own heap and lock interceptors, so there the counter is compiled
// out (the realtime sanitizer checks the same rules itself).

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "audio_probe.h"
#include "sound_pad.h"
#include "test_support.h"

namespace {
std::atomic<long> strictCalls{0};  // allocations, frees and locks
}  // namespace

#ifndef MARLUNE_SANITIZER_BUILD
#define MARLUNE_COUNTING 1
// The C++ runtime's operator new and delete call malloc and free; calloc and realloc memory is
// freed through free. glibc's own functions do the work.
extern "C" void* __libc_malloc(size_t size);
extern "C" void __libc_free(void* pointer);
extern "C" void* malloc(size_t size) {
  if (audio_probe::Strict()) ++strictCalls;
  return __libc_malloc(size);
}
extern "C" void free(void* pointer) {
  if (pointer != nullptr && audio_probe::Strict()) ++strictCalls;
  __libc_free(pointer);
}
// Every lock taken through pthreads: SDL's mutexes, std::mutex and the libraries'. The C
// library's own is looked up on first use (which may come before static initialisation).
extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
  using Lock = int (*)(pthread_mutex_t*);
  static std::atomic<Lock> real{nullptr};
  if (real.load() == nullptr) real = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
  if (audio_probe::Strict()) ++strictCalls;
  return real.load()(mutex);
}
#endif  // MARLUNE_SANITIZER_BUILD

namespace {

#ifdef MARLUNE_COUNTING
// Allocates, frees and locks in its callback, as a pad must never do.
class MisbehavingPad : public SoundPad {
 public:
  MisbehavingPad() : SoundPad(0, 0, 1, 1) {}
  void AudioCallback(double* buffer, unsigned int nFrames, double) override {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<double> copy(buffer, buffer + 2 * nFrames);
    for (unsigned int i = 0; i < 2 * nFrames; ++i) buffer[i] = 0.0 * copy[i];
  }
  void Draw() override {}
  std::mutex mutex;
};

class RtSafetyTest : public EngineTest {};

TEST_F(RtSafetyTest, TheCounterSeesAPadThatBreaksTheRules) {
  const long before = StrictCalls();
  AddPad(new MisbehavingPad());
  RunBuffer(0.0, 64);
  EXPECT_EQ(StrictCalls() - before, 3);
}
#endif

}  // namespace

long StrictCalls() {
#ifdef MARLUNE_COUNTING
  return strictCalls.load();
#else
  return 0;
#endif
}
