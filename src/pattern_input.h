#pragma once
// The one rule by which the pointer edits a pad's pattern, used by every pad that takes notes.
// Steps are judged as the player hears them (the buffer's stream time minus the output
// latency):
// - a press made less than the late window after a step began, as heard, writes (left) or
//   clears (right, or Shift + left) that step; a written note sounds at once, and on later
//   passes the sequencer plays it on its step;
// - a button held down as a step begins, as heard, writes or clears that step, so a press
//   made outside the window still lands on the next step if it is held into it; a press made
//   before that step began but handed over after it (the main thread reads input between
//   frames) was held into it when its button is still down.
// Each pad maps only its own axes (PointerAxes). Audio thread only, inside a buffer (between
// SamplePointerForBuffer and EndBufferSample).

#include "sound_pad.h"
#include "step_sequencer.h"

// How a point inside a pad becomes a note.
struct PointerAxes {
  // false: `count` rows up the height (row 0 at the bottom, the top edge clamped to the last
  // row), velocity across the width. true: `count` keys across the width (key 0 at the left
  // edge; the right edge itself gives `count`, the next octave's root), velocity up the height.
  bool keysAcross = false;
  int count = 1;
  // Velocity at the low edge; the far edge gives 1.0.
  double minVelocity = 0.0;
};

// The note (chord offset, velocity in [minVelocity, 1]) for a point (window pixels, y up) of
// the pad; points outside are clamped to its edges. Any thread.
Note PointerNote(const SoundPad& pad, const PointerAxes& axes, float x, float y);

// Applies this buffer's presses and held buttons to the pattern of the pad for the buffer at
// streamTime (seconds). Returns true, with *started filled, when a note was written that must
// sound now because the sequencer does not play it in this buffer.
bool ApplyPointerToPattern(const SoundPad& pad, const PointerAxes& axes, double streamTime,
                           StepSequencer& sequencer, Note* started);
