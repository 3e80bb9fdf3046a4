#pragma once
// Fakes shared by the benchmarks: a pointer and a stream clock the benchmark sets, and the
// game screen's pads with every step of every pad holding a note.

#include <cstdint>

#include "input_source.h"
#include "stream_clock.h"

// Pointer and Shift state set by the benchmark; a button going down is recorded as a press at
// the pointer, as SDL's event pumping would.
class BenchInput : public InputSource {
 public:
  uint32_t MouseState(int* x, int* y) const override;
  bool ShiftHeld() const override { return false; }
  bool PopPress(PointerPress* press) override;
  uint32_t TicksMs() const override { return 0; }
  // Places the pointer at (x, y) in window pixels, y counted up from the bottom edge.
  void MoveTo(float x, float y);

  int sdlX = 0;
  int sdlY = 0;
  uint32_t buttons = 0;

 private:
  uint32_t recorded_ = 0;
};

// A stream clock whose time the benchmark sets.
class BenchClock : public StreamClock {
 public:
  double StreamTime() override { return time; }
  double SampleRate() override { return 44100.0; }
  double time = 0.0;
};

// Changes to the program's resource folder, where the generated content is; false if missing.
bool EnterResourceFolder();

// Installs input and clock, builds the thirteen pads of a new game, switches the metronome on
// and holds the left button on every wave loop pad for a loop, so every step of every pad
// holds a note (rows and velocities differ per pad). Runs the mixer for that, in 512-frame
// buffers, and returns the stream time reached, seconds.
double PrepareFullGame(BenchInput& input, BenchClock& clock);
