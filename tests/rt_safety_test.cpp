// The mixer callback keeps the audio thread's rules while the whole game screen plays: the
// thirteen pads of a new game, notes on every step of every pad, chord changes, the metronome,
// recordings started and stopped, clicks, right-clicks and Shift-clicks arriving.
//
// In a plain build this binary replaces malloc, free and pthread_mutex_lock with counting
// versions: a call made on a thread inside the mixer callback and outside every
// audio_probe::Exemption (the pad-list mutex) is counted, and the count must stay at zero.
// Sanitizer builds keep their own heap and lock interceptors, so there the counter is compiled
// out and the scenario runs as a workload for the sanitizer (the realtime sanitizer checks the
// same rules itself).

#include <dlfcn.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "audio_probe.h"
#include "pad_preset.h"
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

constexpr unsigned int kFrames = 64;

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
#endif

class RtSafetyTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    strictCalls = 0;
  }
  // Runs buffers for about `seconds` (at least one) with the input as it stands.
  void Play(double seconds = 0.0) {
    do {
      peak_ = std::max(peak_, Peak(RunBuffer(time_, kFrames)));
      time_ += kFrames / 44100.0;
    } while ((seconds -= kFrames / 44100.0) > 0.0);
  }
  // Holds `buttons` (with Shift if asked) at (x, y) for `seconds`, then releases: a click when
  // no time is given.
  void Hold(float x, float y, uint32_t buttons = SDL_BUTTON_LMASK, double seconds = 0.0,
            bool shift = false) {
    input.MoveTo(static_cast<int>(x), static_cast<int>(y));
    Play();
    input.buttons = buttons, input.shift = shift;
    Play(seconds);
    input.buttons = 0, input.shift = false;
    Play();
  }
  double time_ = 0.0;
  double peak_ = 0.0;
};

TEST_F(RtSafetyTest, FullGameScreenNeverAllocatesOrLocksInTheCallback) {
  PresetInit();
  ASSERT_EQ(gameState.pads.size(), 13u);
  const SoundPad &chords = *gameState.pads[0], &metronome = *gameState.pads[1],
                 &record = *gameState.pads[2];
  const auto toggle = [this](const SoundPad& pad) { Hold(pad.x + 50, pad.y + 37); };
  toggle(metronome);
  toggle(record);

  // Hold the left button on every wave pad for a whole loop, on a different row and velocity
  // each time: every step of every pad gets a note. Then, while everything rings, the chord
  // progression is edited (a root and a type for each entry), clicks land late on steps,
  // notes are removed with right-clicks and Shift-clicks, and the recording is switched off
  // and on.
  const double loop = gameState.loopOptions.LoopLength();
  for (int i = 3; i < 13; ++i) {
    const SoundPad& pad = *gameState.pads[i];
    const float fraction = 0.1f + 0.08f * static_cast<float>(i - 3);
    Hold(pad.x + pad.width * fraction, pad.y + pad.height * (1.0f - fraction), SDL_BUTTON_LMASK,
         loop + 0.2);
  }
  for (int round = 0; round < 3; ++round) {
    for (int k = 0; k < 4; ++k) {  // each entry's root column, then its type column
      for (int column : {12, 60}) {
        Hold(chords.x + 100 * k + column, chords.y + 8 + 16.7f * ((5 * k + column + round) % 12));
      }
    }
    Play(loop);
    for (int i = 3; i < 13; ++i) Hold(gameState.pads[i]->x + 20, gameState.pads[i]->y + 20);
    const SoundPad& a = *gameState.pads[3 + round];
    Hold(a.x + 30, a.y + 30, SDL_BUTTON_RMASK);
    Hold(a.x + 40, a.y + 40, SDL_BUTTON_LMASK, 0.0, true);
    Hold(a.x + 50, a.y + 50, SDL_BUTTON_RMASK, loop / 4);
    toggle(record);
    Play(loop / 2);
  }
  toggle(metronome);
  Play(loop);
  EXPECT_GT(peak_, 0.1) << "the scenario should be audible";
#ifdef MARLUNE_COUNTING
  EXPECT_EQ(strictCalls.load(), 0) << "allocations, frees or locks (but the pad list's)";
  AddPad(new MisbehavingPad());  // the counter does see a pad that breaks the rules
  Play();
  EXPECT_EQ(strictCalls.load(), 3);
#endif
}

}  // namespace
