#pragma once
// A sine test tone played directly by the pointer: while the left button is held over the pad
// the tone sounds, from kStartFrequency at the left edge to twice that at the right edge, and
// from silence at the bottom edge to full scale at the top. No pattern, no timing.
//
// MonoAudioCallback: audio thread only. Draw: main thread only (reads nothing the audio thread
// writes).

#include "SineWave.h"
#include "mono_sound_pad.h"

class TestSinePad : public MonoSoundPad {
 public:
  // Frequency at the pad's left edge, Hz.
  static constexpr double kStartFrequency = 440.0;

  // Rectangle in window pixels. Main thread.
  TestSinePad(float x, float y, float w, float h);
  ~TestSinePad() override = default;

  // Draws the pad as a white rectangle. Main thread only.
  void Draw() override;

 protected:
  // nFrames of the tone under the pointer, or zeros (the oscillator holds its phase) while the
  // button is up or the pointer is elsewhere. Audio thread only.
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double streamTime) override;

 private:
  stk::SineWave sine_;
};
