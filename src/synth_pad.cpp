#include "synth_pad.h"

#include "common.h"
#include "game_state.h"

SynthPad::SynthPad(float x, float y, float w, float h, int keys, double minVelocity,
                   double pitchMultiplier, Sustain sustain)
    : MonoSoundPad(x, y, w, h),
      keys_(keys),
      adsr_(),
      sequencer_(),
      axes_{true, keys, minVelocity},
      pitchMultiplier_(pitchMultiplier),
      sustain_(sustain) {}

void SynthPad::MonoAudioCallback(double* buffer, unsigned int nFrames, double streamTime) {
  const NoteChord& chord = gameState.loopOptions.chord.Current();

  Note clicked;
  if (ApplyPointerToPattern(*this, axes_, streamTime, sequencer_, &clicked)) {
    adsr_.keyOn();
    adsr_.setAttackTarget(clicked.velocity);
    SetVoiceFrequency(chord.GetFrequency(clicked.offset) * pitchMultiplier_);
  }

  Note note;
  if (sequencer_.Tick(streamTime, &note)) {
    adsr_.keyOn();
    if (sustain_ == Sustain::kAtVelocity) {
      adsr_.setSustainLevel(note.velocity);
    } else {
      adsr_.setAttackTarget(note.velocity);
    }
    SetVoiceFrequency(chord.GetFrequency(note.offset) * pitchMultiplier_);
  } else if (sustain_ == Sustain::kAtVelocity && StepChange(streamTime)) {
    adsr_.keyOff();
  }

  RenderVoice(buffer, nFrames);
  for (unsigned int i = 0; i < nFrames; ++i) buffer[i] *= adsr_.tick();
}
