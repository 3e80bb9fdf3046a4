#pragma once
// A pad that renders a mono signal, spread unchanged to both stereo channels.

#include "sound_pad.h"

class MonoSoundPad : public SoundPad {
 public:
  using SoundPad::SoundPad;

  // Renders the mono signal into the upper half of buffer and spreads it in place to the
  // interleaved stereo layout: no separate mono buffer is needed. Audio thread only.
  void AudioCallback(double* buffer, unsigned int nFrames, double streamTime) final;

 protected:
  // Writes all nFrames mono samples of buffer (which arrives uninitialised). Audio thread.
  virtual void MonoAudioCallback(double* buffer, unsigned int nFrames, double streamTime) = 0;
};
