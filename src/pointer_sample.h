#pragma once
// The pointer as the audio callback samples it for its buffer: the one place that reads the
// input source per buffer. Every pad of one buffer sees the same position, buttons, Shift and
// presses, and the heard stream clock they are placed on. The mouse helpers of common.h read
// this view; outside a buffer (drawing on the main thread) it is the live state. It sits below
// those helpers: the steps it places presses on are the loop's own (loop_options.h) and the
// buttons of the previous buffer are those the audio callback kept (game_state.h).
//
// Threads: the sample is per thread. SamplePointerForBuffer and EndBufferSample bracket each
// audio buffer on the audio thread; the readers below answer for the calling thread.

#include <cstdint>

// One press handed to the pads of a buffer.
struct Click {
  float x = 0.0f;           // window pixels from the left edge
  float y = 0.0f;           // window pixels from the bottom edge
  bool right = false;       // right button, or left with Shift
  double heardTime = 0.0;   // stream time the player was hearing when pressing, seconds
};

// Starts the current buffer's view of the pointer: places the buffer on the heard stream clock
// (where the sound server places it, heardOffset: heard stream time minus press-clock time,
// seconds; where it does not (NaN), the buffer's streamTime minus outputLatency, seconds, as of
// the callbacks that started on time),
// takes the presses recorded since the previous buffer and places each on that clock (minus
// how long ago it was made), and samples position, buttons and Shift together. Returns the
// button mask to store for the next buffer (Shift + left adds right). Audio thread, at the
// start of each buffer.
//
// Presses that belong to no time the player heard are dropped: those made before the first
// buffer of the running stream (streamGeneration changes with every stream opened: a press
// made while the sound was gone) and those made while a new game was set up (HoldPresses).
// A press made while the stream runs counts however late its buffer comes.
uint8_t SamplePointerForBuffer(double streamTime, double outputLatency, double heardOffset,
                               uint32_t streamGeneration);
// Set-up of a new game: from HoldPresses on, presses are dropped; ReleasePresses lets through
// those stamped after nowMs (on the press clock), once set-up has drained its events. Main
// thread.
void HoldPresses();
void ReleasePresses(uint32_t nowMs);
// Returns the calling thread's view to the live state. Audio thread, end of a buffer.
void EndBufferSample();

// Position, buttons and Shift read together.
struct PointerState {
  int x = 0;             // window pixels from the left edge
  int y = 0;             // window pixels, SDL's: counted down from the top edge
  uint32_t buttons = 0;  // SDL's button mask: 1 left, 4 right
  bool shift = false;    // either Shift key held
};
// The pointer as the calling thread sees it: inside a buffer, as sampled at its start; else
// live.
PointerState Pointer();

// True when the point (px, py) lies in the rectangle (x, y, w, h), both edges inclusive; all in
// window pixels with y up. The one hit test of pointer and presses. Any thread.
bool PointWithin(float px, float py, float x, float y, float w, float h);

// Presses recorded since the previous buffer, oldest first, and the one at index i (0 to
// ClickCount() - 1). Audio thread, inside a buffer.
int ClickCount();
const Click& ClickAt(int i);
// True when a press of that side (right: the right button, or left with Shift; else the left
// button alone) was recorded since the previous buffer. Audio thread, inside a buffer.
bool AnyClick(bool right);
// Stream time being heard as this buffer began, seconds. Audio thread, inside a buffer.
double HeardNow();
// True when the heard stream time has passed the start of a step for the first time in this
// buffer: it lies in another step than the furthest heard time an earlier buffer reached,
// however far the heard clock moved since then (callbacks may come in bursts). Audio thread,
// inside a buffer.
bool HeardStepChange();
