#pragma once
// Fakes for the program's seams and a fixture that drives the real engine without a display
// or an audio device: tests place the pointer, press buttons and run audio buffers stamped
// with stream times of their choosing.

#include <gtest/gtest.h>

#include <cstdint>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "game_state.h"
#include "input_source.h"
#include "stream_clock.h"

class SoundPad;

// Pointer, Shift and presses set by the test. Like SDL's event pumping, a button that goes
// down in `buttons` is recorded as a press (at the pointer, stamped `ticks`) when the audio
// thread next takes presses; Press records one with a time of the test's choosing.
class FakeInput : public InputSource {
 public:
  uint32_t MouseState(int* x, int* y) const override {
    if (x != nullptr) *x = sdlX;
    if (y != nullptr) *y = sdlY;
    return buttons;
  }
  bool ShiftHeld() const override { return shift; }
  bool PopPress(PointerPress* press) override;
  uint32_t TicksMs() const override { return ticks; }

  // Places the pointer at (x, y) in window pixels, y counted up from the bottom edge.
  void MoveTo(int x, int y) { sdlX = x, sdlY = 600 - y; }
  // Records a press of button (1 left, 4 right) at (x, y), window pixels with y up, made at
  // timeMs on the `ticks` clock. The button's state is left as it is (set `buttons` after
  // this to hold it).
  void Press(uint32_t button, int x, int y, uint32_t timeMs);

  int sdlX = 0;  // SDL's coordinates: y counted down from the top edge
  int sdlY = 0;
  uint32_t buttons = 0;  // SDL button mask: 1 left, 4 right
  bool shift = false;
  uint32_t ticks = 0;    // milliseconds now, on the clock that stamps presses

 private:
  // Presses waiting, oldest first, in a fixed array so that taking one never allocates on the
  // audio thread.
  std::array<PointerPress, 32> queued_{};
  size_t count_ = 0;
  uint32_t recorded_ = 0;  // buttons whose going down has been recorded
};

// A stream clock at 44.1 kHz whose time the test sets.
class FakeClock : public StreamClock {
 public:
  double StreamTime() override { return time; }
  double SampleRate() override { return 44100.0; }
  double time = 0.0;
};

// Installs the fakes into the global game state, with a clean state: no pads, the default loop
// chord, nothing published yet, 512-frame buffers, recordings going to recordingFolder (which
// RemoveEngine deletes, after deleting the pads and completing any recording).
void InstallEngine(FakeInput* input, FakeClock* clock, const std::string& recordingFolder);
void RemoveEngine(const std::string& recordingFolder);

// Installs the engine around each test.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the mixer callback for one buffer of nFrames starting at stream time t (seconds) and
  // returns the interleaved stereo output.
  std::vector<double> RunBuffer(double t, unsigned int nFrames = 512);
  // Runs consecutive buffers from t0 for the given duration (seconds) and returns the whole
  // interleaved output.
  std::vector<double> RunSeconds(double t0, double seconds, unsigned int nFrames = 512);
  // Appends a pad to the list the mixer walks (owned by the game state from now on).
  void AddPad(SoundPad* pad);
  // Stream time of the first frame of buffer index i when buffers of nFrames run from 0.
  static double BufferTime(int i, unsigned int nFrames = 512) { return i * nFrames / 44100.0; }

  FakeInput input;
  FakeClock clock;
  std::string recordingFolder;  // a fresh folder where this test's recordings land
};

// Writes a WAV file of 16-bit samples (frames x channels interleaved) for tests.
void WriteTestWav(const std::string& path, const std::vector<double>& samples,
                  unsigned int channels);
// Left channel of interleaved stereo.
std::vector<double> LeftChannel(const std::vector<double>& stereo);
// Peak absolute value.
double Peak(const std::vector<double>& samples, size_t from = 0, size_t to = SIZE_MAX);
// Allocations, frees and locks made so far inside the mixer callback, outside the pad-list
// mutex: the audio thread's rules broken (counted in plain builds, 0 in sanitizer builds, whose
// own interceptors check the same rules).
long StrictCalls();
// The draw calls `draw` makes, as text: fonts named "font", textures by their id.
std::string Drawn(const std::function<void()>& draw);
// A fresh, empty temporary folder.
std::string MakeTempDir();
// The bytes of a file ("" if it cannot be read).
std::string ReadFile(const std::string& path);
// The 16-bit samples of a WAV file's bytes as the program writes them: after the 44-byte header.
std::vector<int16_t> WavSamples(const std::string& bytes);
