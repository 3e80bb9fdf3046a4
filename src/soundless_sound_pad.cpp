#include "soundless_sound_pad.h"

void SoundlessSoundPad::AudioCallback(double* buffer, unsigned int nFrames, double streamTime) {
  for (unsigned int i = 0; i < 2 * nFrames; ++i) buffer[i] = 0.0;
  UpdateCallback(streamTime);
}
