// The mixer callback keeps the audio thread's rules while the whole game screen plays: the
// thirteen pads of a new game, notes on every step of every pad, chord changes, the metronome,
// recordings started and stopped, clicks, right-clicks and Shift-clicks arriving.
//
// In a plain build this binary replaces the heap functions and pthread_mutex_lock with
// counting versions: a call made on a thread inside the mixer callback and outside every
// audio_probe::Exemption (the pad-list mutex) is
// counted, and the counts must stay at zero. Sanitizer builds keep their own heap and lock
// interceptors, so there the counters are compiled out and the scenario runs as a workload
// for the sanitizer (the realtime sanitizer checks the same rules itself).

#include <dirent.h>
#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "audio_mixer.h"
#include "audio_probe.h"
#include "common.h"
#include "pad_preset.h"
#include "record_pad.h"
#include "sound_pad.h"
#include "test_support.h"
#include "wave_loop_pad.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(realtime_sanitizer)
#define MARLUNE_SANITIZER_BUILD 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(MARLUNE_RTSAN)
#define MARLUNE_SANITIZER_BUILD 1
#endif

namespace {
std::atomic<long> strictAllocations{0};
std::atomic<long> strictFrees{0};
std::atomic<long> strictLocks{0};

void ResetCounts() {
  strictAllocations = 0;
  strictFrees = 0;
  strictLocks = 0;
}
}  // namespace

#ifndef MARLUNE_SANITIZER_BUILD
#define MARLUNE_COUNTING 1

// glibc's own allocator, which the replacements below forward to.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* pointer);
}

namespace {
void* CountedAllocation(void* pointer) {
  if (audio_probe::Strict()) strictAllocations.fetch_add(1, std::memory_order_relaxed);
  return pointer;
}
void CountedFree(void* pointer) {
  if (pointer != nullptr && audio_probe::Strict()) {
    strictFrees.fetch_add(1, std::memory_order_relaxed);
  }
  __libc_free(pointer);
}
void* NewOrThrow(size_t size) {
  void* pointer = __libc_malloc(size == 0 ? 1 : size);
  if (pointer == nullptr) throw std::bad_alloc();
  return CountedAllocation(pointer);
}
void* AlignedNewOrThrow(size_t size, std::align_val_t alignment) {
  void* pointer = __libc_memalign(static_cast<size_t>(alignment), size == 0 ? 1 : size);
  if (pointer == nullptr) throw std::bad_alloc();
  return CountedAllocation(pointer);
}
}  // namespace

// C allocations (the C libraries, and the C++ runtime's own use of malloc).
extern "C" void* malloc(size_t size) { return CountedAllocation(__libc_malloc(size)); }
extern "C" void* calloc(size_t count, size_t size) {
  return CountedAllocation(__libc_calloc(count, size));
}
extern "C" void* realloc(void* pointer, size_t size) {
  return CountedAllocation(__libc_realloc(pointer, size));
}
extern "C" void free(void* pointer) { CountedFree(pointer); }

// Every lock taken through pthreads: SDL's mutexes, std::mutex and the libraries'. The C
// library's own is looked up on first use (which may come before static initialisation).
extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex) {
  using Lock = int (*)(pthread_mutex_t*);
  static std::atomic<Lock> real{nullptr};
  Lock lock = real.load(std::memory_order_acquire);
  if (lock == nullptr) {
    lock = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    real.store(lock, std::memory_order_release);
  }
  if (audio_probe::Strict()) strictLocks.fetch_add(1, std::memory_order_relaxed);
  return lock(mutex);
}

// C++ allocations.
void* operator new(size_t size) { return NewOrThrow(size); }
void* operator new[](size_t size) { return NewOrThrow(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return CountedAllocation(__libc_malloc(size == 0 ? 1 : size));
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return CountedAllocation(__libc_malloc(size == 0 ? 1 : size));
}
void* operator new(size_t size, std::align_val_t alignment) {
  return AlignedNewOrThrow(size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment) {
  return AlignedNewOrThrow(size, alignment);
}
void operator delete(void* pointer) noexcept { CountedFree(pointer); }
void operator delete[](void* pointer) noexcept { CountedFree(pointer); }
void operator delete(void* pointer, size_t) noexcept { CountedFree(pointer); }
void operator delete[](void* pointer, size_t) noexcept { CountedFree(pointer); }
void operator delete(void* pointer, std::align_val_t) noexcept { CountedFree(pointer); }
void operator delete[](void* pointer, std::align_val_t) noexcept { CountedFree(pointer); }
void operator delete(void* pointer, size_t, std::align_val_t) noexcept { CountedFree(pointer); }
void operator delete[](void* pointer, size_t, std::align_val_t) noexcept { CountedFree(pointer); }
#endif  // MARLUNE_SANITIZER_BUILD

namespace {

constexpr unsigned int kFrames = 64;

// Allocates, frees and locks in its callback, as a pad must never do.
class MisbehavingPad : public SoundPad {
 public:
  MisbehavingPad() : SoundPad(0, 0, 1, 1) { pthread_mutex_init(&mutex_, nullptr); }
  ~MisbehavingPad() override { pthread_mutex_destroy(&mutex_); }
  void AudioCallback(double* buffer, unsigned int nFrames, double) override {
    std::vector<double> copy(buffer, buffer + 2 * nFrames);
    pthread_mutex_lock(&mutex_);
    for (unsigned int i = 0; i < 2 * nFrames; ++i) buffer[i] = 0.0 * copy[i];
    pthread_mutex_unlock(&mutex_);
  }
  void Draw() override {}

 private:
  pthread_mutex_t mutex_;
};

class RtSafetyTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    for (const char* sample : {"MarluneContent/sfx/metronome.wav",
                               "MarluneContent/sfx/lsdj_pulse_50.wav",
                               "MarluneContent/sfx/tr909_08.wav"}) {
      ASSERT_TRUE(FileExists(sample)) << sample << " missing: build the content first";
    }
    folder_ = MakeTempDir() + "/";
    RecordPad::SetRecordingFolder(folder_);
    out_.assign(2 * kFrames, 0.0);
    ResetCounts();
  }
  void TearDown() override {
    EngineTest::TearDown();
    RecordPad::SetRecordingFolder("../../../");
  }

  // Runs one buffer with the input as it stands.
  void Buffer() {
    AudioMixerCallback(out_.data(), nullptr, kFrames, time_, 0, nullptr);
    for (double s : out_) peak_ = std::fmax(peak_, std::fabs(s));
    time_ += kFrames / 44100.0;
  }
  // Runs buffers for about `seconds` with the input as it stands.
  void Play(double seconds) {
    const int buffers = static_cast<int>(std::ceil(seconds * 44100.0 / kFrames));
    for (int i = 0; i < buffers; ++i) Buffer();
  }
  // Presses `buttons` (with Shift if asked) at (x, y) for one buffer, then releases.
  void Click(float x, float y, uint32_t buttons = SDL_BUTTON_LMASK, bool shift = false) {
    input.MoveTo(static_cast<int>(x), static_cast<int>(y));
    input.buttons = 0;
    Buffer();
    input.buttons = buttons;
    input.shift = shift;
    Buffer();
    input.buttons = 0;
    input.shift = false;
    Buffer();
  }
  // Holds `buttons` at (x, y) for `seconds`.
  void Hold(float x, float y, uint32_t buttons, double seconds) {
    input.MoveTo(static_cast<int>(x), static_cast<int>(y));
    input.buttons = buttons;
    Play(seconds);
    input.buttons = 0;
    Buffer();
  }
  // Clicks a root and a chord type into entry k of the chord progression (rows 0 to 11).
  void EditChord(int k, int rootRow, int typeRow) {
    const float rowHeight = 200.0f / 12.0f;
    Click(400.0f + 100.0f * k + 12.0f, 400.0f + rowHeight * (rootRow + 0.5f));
    Click(400.0f + 100.0f * k + 60.0f, 400.0f + rowHeight * (typeRow + 0.5f));
  }
  std::vector<WaveLoopPad*> WavePads() const {
    std::vector<WaveLoopPad*> pads;
    for (SoundPad* pad : gameState.pads) {
      if (auto* wave = dynamic_cast<WaveLoopPad*>(pad)) pads.push_back(wave);
    }
    return pads;
  }
  int Recordings() const {
    int count = 0;
    if (DIR* dir = opendir(folder_.c_str())) {
      while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0) ++count;
      }
      closedir(dir);
    }
    return count;
  }

  std::string folder_;
  std::vector<double> out_;
  double time_ = 0.0;
  double peak_ = 0.0;
};

TEST_F(RtSafetyTest, FullGameScreenNeverAllocatesOrLocksInTheCallback) {
  PresetInit();
  ASSERT_EQ(gameState.pads.size(), 13u);
  Buffer();

  Click(100, 537);  // metronome on
  Click(100, 447);  // recording on

  // Hold the left button on every wave pad for a whole loop, on a different row and velocity
  // each time: every step of every pad gets a note.
  const double loop = gameState.loopOptions.LoopLength();
  const std::vector<WaveLoopPad*> pads = WavePads();
  ASSERT_EQ(pads.size(), 10u);
  for (size_t i = 0; i < pads.size(); ++i) {
    const WaveLoopPad& pad = *pads[i];
    const float fraction = 0.1f + 0.08f * static_cast<float>(i);
    Hold(pad.x + pad.width * fraction, pad.y + pad.height * (1.0f - fraction), SDL_BUTTON_LMASK,
         loop + 0.2);
    if (i == 4) {
      Click(100, 447);  // recording off, and on again two pads later
      EditChord(1, 7, 6);
    }
    if (i == 6) Click(100, 447);
  }
  for (const WaveLoopPad* pad : pads) {
    for (int step = 0; step < gameState.loopOptions.StepsPerLoop(); ++step) {
      ASSERT_TRUE(pad->Sequencer().IsActive(step)) << pad->Name() << " step " << step;
    }
  }

  // Everything rings while the progression is edited, clicks land late on steps, notes are
  // removed with right-clicks and Shift-clicks, and the recording is switched off and on.
  for (int round = 0; round < 3; ++round) {
    for (int k = 0; k < 4; ++k) EditChord(k, (5 * k + round) % 12, (3 * k + 2 * round) % 12);
    Play(loop);
    for (const WaveLoopPad* pad : pads) Click(pad->x + 20, pad->y + 20);
    Click(pads[round]->x + 30, pads[round]->y + 30, SDL_BUTTON_RMASK);
    Click(pads[round + 5]->x + 30, pads[round + 5]->y + 30, SDL_BUTTON_LMASK, true);
    Hold(pads[round + 3]->x + 40, pads[round + 3]->y + 40, SDL_BUTTON_RMASK, loop / 4);
    Click(100, 447);
    Play(loop / 2);
  }
  Click(100, 537);  // metronome off
  Play(loop);
  if (gameState.recorder.Recording()) Click(100, 447);

  EXPECT_GT(peak_, 0.1) << "the scenario should be audible";
  EXPECT_FALSE(gameState.recorder.Recording());
  gameState.recorder.Drain();
  EXPECT_EQ(Recordings(), 3);
  EXPECT_FALSE(RecordPad::Failed());
#ifdef MARLUNE_COUNTING
  EXPECT_EQ(strictAllocations.load(), 0) << "heap allocations inside the callback";
  EXPECT_EQ(strictFrees.load(), 0) << "heap frees inside the callback";
  EXPECT_EQ(strictLocks.load(), 0) << "locks other than the pad-list mutex inside the callback";
#endif
}

TEST_F(RtSafetyTest, CountersSeeAPadThatAllocatesAndLocks) {
#ifndef MARLUNE_COUNTING
  GTEST_SKIP() << "the sanitizer's own interceptors replace the counters in this build";
#else
  AddPad(new MisbehavingPad());
  Buffer();
  EXPECT_EQ(strictAllocations.load(), 1);
  EXPECT_EQ(strictFrees.load(), 1);
  EXPECT_EQ(strictLocks.load(), 1);

  // The same calls outside the callback, or inside an exemption, are not the callback's.
  ResetCounts();
  std::vector<double> outside(2 * kFrames);
  gameState.pads[0]->AudioCallback(outside.data(), kFrames, 0.0);
  {
    audio_probe::CallbackScope inCallback;
    audio_probe::Exemption exempt(audio_probe::Allowed::kPadListMutex);
    gameState.pads[0]->AudioCallback(outside.data(), kFrames, 0.0);
  }
  EXPECT_EQ(strictAllocations.load() + strictFrees.load() + strictLocks.load(), 0);
#endif
}

#ifdef MARLUNE_RTSAN
// The realtime sanitizer really watches the callback: a pad that allocates ends the process.
using RtSafetyDeathTest = RtSafetyTest;

TEST_F(RtSafetyDeathTest, RealtimeSanitizerStopsAPadThatAllocates) {
  AddPad(new MisbehavingPad());
  EXPECT_DEATH(Buffer(), "RealtimeSanitizer");
}
#endif

}  // namespace
