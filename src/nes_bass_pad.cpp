#include "nes_bass_pad.h"

#include "draw_list.h"
#include "game_state.h"

NesBassPad::NesBassPad(float x, float y, float w, float h, int keys, double minVelocity,
                       double pitchMultiplier, const std::string& sampleFile)
    : SynthPad(x, y, w, h, keys, minVelocity, pitchMultiplier, Sustain::kAtVelocity),
      loop_(sampleFile, false, true, GameState::kChunkThreshold, GameState::kChunkSize,
            true) {
  adsr_.setAttackTime(1e-8);
}

void NesBassPad::SetVoiceFrequency(double hz) { loop_.setFrequency(hz); }

void NesBassPad::RenderVoice(double* buffer, unsigned int nFrames) {
  for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = loop_.tick();
}

void NesBassPad::Draw() {
  draw::Frame(x, y, width, height);
  sequencer_.Draw(x, y, width, height * 0.5f, keys_);
}
