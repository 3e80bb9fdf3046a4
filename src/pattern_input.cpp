#include "pattern_input.h"

#include "common.h"
#include "game_state.h"
#include "pointer_sample.h"

namespace {
float Fraction(float value, float low, float size) {
  return clampf((value - low) / size, 0.0f, 1.0f);
}
}  // namespace

Note PointerNote(const SoundPad& pad, const PointerAxes& axes, float x, float y) {
  const float across = Fraction(x, pad.x, pad.width);
  const float up = Fraction(y, pad.y, pad.height);
  Note note;
  if (axes.keysAcross) {
    note.offset = static_cast<int>(static_cast<float>(axes.count) * across);
    note.velocity = (1.0 - axes.minVelocity) * static_cast<double>(up) + axes.minVelocity;
  } else {
    note.offset = clamp(static_cast<int>(static_cast<float>(axes.count) * up), 0, axes.count - 1);
    note.velocity = (1.0 - axes.minVelocity) * static_cast<double>(across) + axes.minVelocity;
  }
  return note;
}

bool ApplyPointerToPattern(const SoundPad& pad, const PointerAxes& axes, double streamTime,
                           StepSequencer& sequencer, Note* started) {
  const LoopOptions& loop = gameState.loopOptions;
  // A step the sequencer begins in this buffer plays its note itself.
  const int renderStep = StepChange(streamTime) ? loop.TimeToStep(streamTime) : -1;
  bool sound = false;
  int written = -1;
  // The held rule below applies to a button as a step begins, as heard. The main thread hands
  // presses over between frames, so a press made in a step's last milliseconds can reach the
  // pads only after the next step began, as heard: its button, still down now, was down as
  // that step began, and the rule applies to it here, since it did not see the button then.
  const double heard = HeardNow();
  const double heardStepBegan = heard - loop.TimeIntoStep(heard);
  bool judgeHeld[2] = {HeardStepChange(), HeardStepChange()};  // the left button, the right

  for (int i = 0; i < ClickCount(); ++i) {
    const Click& click = ClickAt(i);
    if (!PointWithin(click.x, click.y, pad.x, pad.y, pad.width, pad.height)) continue;
    if (click.heardTime < heardStepBegan) judgeHeld[click.right] = true;
    // Before the loop's first step is heard no step has begun.
    if (click.heardTime < loop.startTime) continue;
    if (!LateTimingWindow(click.heardTime)) continue;
    const int step = loop.TimeToStep(click.heardTime);
    if (click.right) {
      sequencer.RemoveNote(step);
      if (step == written) sound = false;
      continue;
    }
    const Note note = PointerNote(pad, axes, click.x, click.y);
    sequencer.AddNote(step, note.offset, note.velocity);
    written = step;
    sound = step != renderStep;
    if (sound) *started = note;
  }

  if (heard >= loop.startTime && MouseWithin(pad.x, pad.y, pad.width, pad.height)) {
    const int step = loop.TimeToStep(heard);
    // With both buttons held, removing wins.
    if (MouseRightButton()) {
      if (judgeHeld[1]) {
        sequencer.RemoveNote(step);
        if (step == written) sound = false;
      }
    } else if (MouseLeftButton() && judgeHeld[0] && step != written) {
      const Note note = PointerNote(pad, axes, static_cast<float>(MouseX()),
                                    static_cast<float>(MouseY()));
      sequencer.AddNote(step, note.offset, note.velocity);
      sound = step != renderStep;
      if (sound) *started = note;
    }
  }
  return sound;
}
