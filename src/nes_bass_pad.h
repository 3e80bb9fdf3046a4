#pragma once
// A bass pad that plays the step grid with a looped single-cycle triangle sample: keys run
// across the pad's width (key 0 at the left edge), velocity up its height. A note attacks at
// once, decays to its velocity and holds until a step boundary without a note releases it.
//
// MonoAudioCallback (SynthPad): audio thread only, with the pad-list mutex held by the mixer.
// Draw: main thread only; it reads the pattern, whose steps are atomics.

#include <string>

#include "FileLoop.h"
#include "synth_pad.h"

class NesBassPad : public SynthPad {
 public:
  // The single-cycle waveform the pad loops.
  static constexpr const char* kSampleFile = "MarluneContent/sfx/famitracker_triangle.wav";

  // Rectangle in window pixels; keys across the width; velocity (0 to 1) at the bottom edge;
  // factor from chord frequency to loop frequency. Opens sampleFile (relative to the working
  // directory); an unreadable file throws the library's stk::StkError. Main thread.
  NesBassPad(float x, float y, float w, float h, int keys, double minVelocity,
             double pitchMultiplier, const std::string& sampleFile = kSampleFile);
  ~NesBassPad() override = default;

  // Draws the frame and the pattern over the lower half of the pad. Main thread only.
  void Draw() override;

 protected:
  // The looped triangle: frequency in Hz, frames of its channel 0. Audio thread.
  void SetVoiceFrequency(double hz) override;
  void RenderVoice(double* buffer, unsigned int nFrames) override;

 private:
  stk::FileLoop loop_;
};
