#pragma once
// The body shared by the synthesiser pads: keys run across the pad's width (key 0 at the left
// edge), velocity up its height; the pointer edits the pattern by the one pattern rule; the
// pattern and clicks start notes on an envelope that shapes the pad's voice. A pad supplies
// only its voice and its sustain rule.
//
// MonoAudioCallback: audio thread only, with the pad-list mutex held by the mixer. Draw (in
// each pad): main thread only; it reads the pattern, whose steps are atomics.

#include "ADSR.h"
#include "mono_sound_pad.h"
#include "pattern_input.h"
#include "step_sequencer.h"

class SynthPad : public MonoSoundPad {
 public:
  // How a note the pattern replays is held.
  enum class Sustain {
    kAtVelocity,     // decays to its velocity and holds until a step without a note
    kAttackToVelocity  // attacks to its velocity and decays by the envelope's own settings
  };

  // The pad's pattern. Safe from any thread (reads only).
  const StepSequencer& Sequencer() const { return sequencer_; }

 protected:
  // Rectangle in window pixels; keys across the width; velocity (0 to 1) at the bottom edge;
  // factor from chord frequency to voice frequency. Main thread.
  SynthPad(float x, float y, float w, float h, int keys, double minVelocity,
           double pitchMultiplier, Sustain sustain);

  // Takes clicks, plays the pattern and renders nFrames mono samples. Audio thread only.
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double streamTime) override;

  // Sets the voice's frequency, Hz. Audio thread.
  virtual void SetVoiceFrequency(double hz) = 0;
  // Renders nFrames of the voice into buffer, unshaped. Audio thread.
  virtual void RenderVoice(double* buffer, unsigned int nFrames) = 0;

  const int keys_;
  stk::ADSR adsr_;
  StepSequencer sequencer_;

 private:
  const PointerAxes axes_;
  const double pitchMultiplier_;
  const Sustain sustain_;
};
