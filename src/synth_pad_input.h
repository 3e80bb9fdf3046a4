#pragma once
// Pointer input shared by the synthesiser pads: keys run across the pad's width (key 0 at the
// left edge, the right edge itself gives `keys`), velocity up its height.

#include "sound_pad.h"
#include "step_sequencer.h"

struct SynthNote {
  int key = 0;            // offset into the loop chord
  double velocity = 0.0;  // 0 to 1
};

// Applies the pointer to a synthesiser pad's pattern for the buffer at streamTime (seconds):
// a button held as a step begins writes (left) or clears (right) that step; a fresh click
// inside the late window writes or clears the current step. Returns true, with *started
// filled, when a fresh left click wrote a note that must sound at once. Audio thread only.
bool HandleSynthPadInput(const SoundPad& pad, int keys, double minVelocity, double streamTime,
                         bool stepChange, StepSequencer& sequencer, SynthNote* started);
