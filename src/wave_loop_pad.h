#pragma once
// The instrument pad: one WAV sample, played either as a pitched loop (the whole file repeated
// at the frequency of a note of the loop's chord) or as a one-shot hit from its first frame,
// shaped by an ADSR envelope and a feedback echo counted in loop steps. Clicks enter notes
// into the pad's step sequencer, quantised to the loop's steps: the height picks the row
// (an offset into the chord), the horizontal position the velocity.
//
// Threads: MonoAudioCallback runs on the audio thread under the pad-list mutex and owns every
// sound member. Draw runs on the main thread without a lock and reads only the sequencer's
// atomics, constant settings and a snapshot of the loop chord.

#include <array>
#include <string>

#include "ADSR.h"
#include "FileLoop.h"
#include "FileWvIn.h"
#include "mono_sound_pad.h"
#include "step_sequencer.h"

class WaveLoopPad : public MonoSoundPad {
 public:
  // Length of the echo history, frames; the echo delay must stay below it.
  static constexpr int kMaxEchoBufferSize = 100000;

  // Rectangle (x, y, w, h) in window pixels; rows of notes (a one-shot pad uses one);
  // minVelocity at the left edge (1.0 at the right); pitchMultiplier times the chord
  // frequency gives the loop rate; sampleFile relative to the working directory (an
  // unreadable file throws stk::StkError); echoFeedback gain; echoSteps delay in loop steps;
  // oneShot plays the file once per note, unpitched; name drawn above the pad; attackTime and
  // decayTime in seconds, sustainLevel 0 to 1; sequencerHeight of the pattern strip drawn
  // below the pad, pixels; releaseOnStep releases a note at the next step without one.
  // Main thread.
  WaveLoopPad(float x, float y, float w, float h, int rows, double minVelocity,
              double pitchMultiplier, std::string sampleFile, double echoFeedback,
              double echoSteps, bool oneShot, std::string name, double attackTime,
              double decayTime, double sustainLevel, float sequencerHeight, bool releaseOnStep);

  // Draws the pad, its rows, the chord-root bands, the label and the pattern strip. Main
  // thread only.
  void Draw() override;

  // Rows the pointer is divided into: 1 for a one-shot pad. Any thread.
  int Rows() const { return oneShot_ ? 1 : rows_; }
  // The pad's pattern. Any thread (the steps are atomics).
  const StepSequencer& Sequencer() const { return sequencer_; }
  // Echo delay used by the last buffer, frames. Audio thread (or tests between buffers).
  int EchoOffset() const { return echoOffset_; }
  bool OneShot() const { return oneShot_; }
  const std::string& Name() const { return name_; }

 protected:
  // Input, sequencer, echo delay and samples for one buffer of nFrames at streamTime
  // (seconds). Audio thread only; allocation- and lock-free.
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double streamTime) override;

 private:
  // Starts a note: envelope attack to velocity (0 to 1), one-shot reader rewound, loop rate
  // from chord row `row`. fromSequencer selects the sustain rule. Audio thread.
  void StartNote(int row, double velocity, bool fromSequencer);

  const int rows_;
  const double minVelocity_;
  const double pitchMultiplier_;
  stk::FileWvIn wvIn_;
  stk::FileLoop loop_;
  stk::ADSR adsr_;
  StepSequencer sequencer_;
  const double echoSteps_;
  const bool oneShot_;
  const std::string name_;
  const float sequencerHeight_;
  const bool releaseOnStep_;
  std::array<double, kMaxEchoBufferSize> echoBuffer_;
  int echoIndex_;
  int echoOffset_;
  const double echoFeedback_;
};
