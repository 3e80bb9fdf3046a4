#include "simple_square_pad.h"

#include "common.h"
#include "game_state.h"
#include "synth_pad_input.h"

SimpleSquarePad::SimpleSquarePad(float x, float y, float w, float h, int keys,
                                 double minVelocity, double pitchMultiplier)
    : MonoSoundPad(x, y, w, h),
      keys_(keys),
      minVelocity_(minVelocity),
      pitchMultiplier_(pitchMultiplier),
      square_(220.0),
      adsr_(),
      sequencer_() {
  // The decay rate is derived from the sustain level in force when the decay time is set
  // (still the default 0.5), so a note falls from 1.0 to silence in about 0.1 s.
  adsr_.setAttackTime(1e-8);
  adsr_.setDecayTime(0.05);
  adsr_.setSustainLevel(0.0);
}

void SimpleSquarePad::MonoAudioCallback(double* buffer, unsigned int nFrames, double streamTime) {
  const NoteChord& chord = gameState.loopOptions.chord.Current();
  const bool stepChange = StepChange(streamTime);

  SynthNote clicked;
  if (HandleSynthPadInput(*this, keys_, minVelocity_, streamTime, stepChange, sequencer_,
                          &clicked)) {
    adsr_.keyOn();
    adsr_.setAttackTarget(clicked.velocity);
    square_.setFrequency(chord.GetFrequency(clicked.key) * pitchMultiplier_);
  }

  Note note;
  if (sequencer_.Tick(streamTime, &note)) {
    // Sustain is 0: every note decays to silence on its own and is never released.
    adsr_.keyOn();
    adsr_.setAttackTarget(note.velocity);
    square_.setFrequency(chord.GetFrequency(note.offset) * pitchMultiplier_);
  }

  for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = square_.tick() * adsr_.tick();
}

void SimpleSquarePad::Draw() {
  DrawFrame(x, y, width, height);
  sequencer_.Draw(x, y, width, height * 0.5f, keys_);
}
