#include "nes_bass_pad.h"

#include "common.h"
#include "game_state.h"
#include "synth_pad_input.h"

NesBassPad::NesBassPad(float x, float y, float w, float h, int keys, double minVelocity,
                       double pitchMultiplier, const std::string& sampleFile)
    : MonoSoundPad(x, y, w, h),
      keys_(keys),
      minVelocity_(minVelocity),
      pitchMultiplier_(pitchMultiplier),
      loop_(sampleFile, false, true, 1000000, 1024, true),
      adsr_(),
      sequencer_() {
  adsr_.setAttackTime(1e-8);
}

void NesBassPad::MonoAudioCallback(double* buffer, unsigned int nFrames, double streamTime) {
  const NoteChord& chord = gameState.loopOptions.chord.Current();
  const bool stepChange = StepChange(streamTime);

  SynthNote clicked;
  if (HandleSynthPadInput(*this, keys_, minVelocity_, streamTime, stepChange, sequencer_,
                          &clicked)) {
    adsr_.keyOn();
    adsr_.setAttackTarget(clicked.velocity);
    loop_.setFrequency(chord.GetFrequency(clicked.key) * pitchMultiplier_);
  }

  Note note;
  if (sequencer_.Tick(streamTime, &note)) {
    adsr_.keyOn();
    adsr_.setSustainLevel(note.velocity);
    loop_.setFrequency(chord.GetFrequency(note.offset) * pitchMultiplier_);
  } else if (stepChange) {
    adsr_.keyOff();
  }

  for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = loop_.tick() * adsr_.tick();
}

void NesBassPad::Draw() {
  DrawFrame(x, y, width, height);
  sequencer_.Draw(x, y, width, height * 0.5f, keys_);
}
