#include "synth_pad_input.h"

#include "common.h"
#include "game_state.h"

bool HandleSynthPadInput(const SoundPad& pad, int keys, double minVelocity, double streamTime,
                         bool stepChange, StepSequencer& sequencer, SynthNote* started) {
  if (!MouseWithin(pad.x, pad.y, pad.width, pad.height)) return false;
  // No clamping: the right edge gives `keys`, an offset that wraps into the next octave.
  const int key = static_cast<int>(static_cast<float>(keys) *
                                   ((static_cast<float>(MouseX()) - pad.x) / pad.width));
  const double velocity =
      (1.0 - minVelocity) * static_cast<double>((static_cast<float>(MouseY()) - pad.y) / pad.height) +
      minVelocity;
  const int step = gameState.loopOptions.TimeToStep(streamTime);
  if (stepChange) {
    if (MouseRightButton()) {
      sequencer.RemoveNote(step);
    } else if (MouseLeftButton()) {
      sequencer.AddNote(step, key, velocity);
    }
    return false;
  }
  if (!LateTimingWindow(streamTime)) return false;
  if (MouseRightClick()) {
    sequencer.RemoveNote(step);
    return false;
  }
  if (!MouseLeftClick()) return false;
  sequencer.AddNote(step, key, velocity);
  started->key = key;
  started->velocity = velocity;
  return true;
}
