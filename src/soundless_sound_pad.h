#pragma once
// A pad that makes no sound and does its work once per buffer in UpdateCallback.

#include "sound_pad.h"

class SoundlessSoundPad : public SoundPad {
 public:
  using SoundPad::SoundPad;

  // Writes silence to all 2 * nFrames samples, then calls UpdateCallback. Audio thread only.
  void AudioCallback(double* buffer, unsigned int nFrames, double streamTime) final;

 protected:
  // The pad's per-buffer work (input, state changes). Audio thread only.
  virtual void UpdateCallback(double streamTime) = 0;
};
