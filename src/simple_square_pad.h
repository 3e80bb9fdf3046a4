#pragma once
// A pad that plays the step grid with a band-limited square wave: keys run across the pad's
// width (key 0 at the left edge), velocity up its height. A note attacks at once to its
// velocity and decays to silence in about a tenth of a second per unit of velocity; it is
// never released.
//
// MonoAudioCallback (SynthPad): audio thread only, with the pad-list mutex held by the mixer.
// Draw: main thread only; it reads the pattern, whose steps are atomics.

#include "BlitSquare.h"
#include "synth_pad.h"

class SimpleSquarePad : public SynthPad {
 public:
  // Rectangle in window pixels; keys across the width; velocity (0 to 1) at the bottom edge;
  // factor from chord frequency to oscillator frequency. Main thread.
  SimpleSquarePad(float x, float y, float w, float h, int keys, double minVelocity,
                  double pitchMultiplier);
  ~SimpleSquarePad() override = default;

  // Draws the frame and the pattern over the lower half of the pad. Main thread only.
  void Draw() override;

 protected:
  // The square oscillator: frequency in Hz, frames of output. Audio thread.
  void SetVoiceFrequency(double hz) override;
  void RenderVoice(double* buffer, unsigned int nFrames) override;

 private:
  stk::BlitSquare square_;
};
