#include "mono_sound_pad.h"

void MonoSoundPad::AudioCallback(double* buffer, unsigned int nFrames, double streamTime) {
  double* mono = buffer + nFrames;
  MonoAudioCallback(mono, nFrames, streamTime);
  // Frame i writes positions 2i and 2i + 1, never beyond nFrames + i, so every mono sample is
  // read before it is overwritten.
  for (unsigned int i = 0; i < nFrames; ++i) {
    const double sample = mono[i];
    buffer[2 * i] = sample;
    buffer[2 * i + 1] = sample;
  }
}
