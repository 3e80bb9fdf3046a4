#pragma once
// A pad that plays the step grid with a band-limited square wave: keys run across the pad's
// width (key 0 at the left edge), velocity up its height. A note attacks at once to its
// velocity and decays to silence in about a tenth of a second per unit of velocity; it is
// never released.
//
// MonoAudioCallback: audio thread only, with the pad-list mutex held by the mixer. Draw: main
// thread only; it reads the pattern, whose steps are atomics.

#include "ADSR.h"
#include "BlitSquare.h"
#include "mono_sound_pad.h"
#include "step_sequencer.h"

class SimpleSquarePad : public MonoSoundPad {
 public:
  // Rectangle in window pixels; keys across the width; velocity (0 to 1) at the bottom edge;
  // factor from chord frequency to oscillator frequency. Main thread.
  SimpleSquarePad(float x, float y, float w, float h, int keys, double minVelocity,
                  double pitchMultiplier);
  ~SimpleSquarePad() override = default;

  // Draws the frame and the pattern over the lower half of the pad. Main thread only.
  void Draw() override;

  // The pad's pattern. Safe from any thread (reads only).
  const StepSequencer& Sequencer() const { return sequencer_; }

 protected:
  // Takes clicks, plays the pattern and renders nFrames mono samples. Audio thread only.
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double streamTime) override;

 private:
  int keys_;
  double minVelocity_;
  double pitchMultiplier_;
  stk::BlitSquare square_;
  stk::ADSR adsr_;
  StepSequencer sequencer_;
};
