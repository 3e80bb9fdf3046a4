#include "simple_square_pad.h"

#include "draw_list.h"

SimpleSquarePad::SimpleSquarePad(float x, float y, float w, float h, int keys,
                                 double minVelocity, double pitchMultiplier)
    : SynthPad(x, y, w, h, keys, minVelocity, pitchMultiplier, Sustain::kAttackToVelocity),
      square_(220.0) {
  // The decay rate is derived from the sustain level in force when the decay time is set
  // (still the default 0.5), so a note falls from 1.0 to silence in about 0.1 s.
  adsr_.setAttackTime(1e-8);
  adsr_.setDecayTime(0.05);
  adsr_.setSustainLevel(0.0);
}

void SimpleSquarePad::SetVoiceFrequency(double hz) { square_.setFrequency(hz); }

void SimpleSquarePad::RenderVoice(double* buffer, unsigned int nFrames) {
  for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = square_.tick();
}

void SimpleSquarePad::Draw() {
  draw::Frame(x, y, width, height);
  sequencer_.Draw(x, y, width, height * 0.5f, keys_);
}
