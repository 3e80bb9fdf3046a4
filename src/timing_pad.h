#pragma once
// A diagnostic pad that shows the timing windows: "StepChange" while the stream is in the
// first buffer of a step, "Late" while a click would still count for the step that has just
// begun. Both texts go to the window's bottom-left corner. It makes no sound.
//
// UpdateCallback: audio thread only. Draw: main thread only.

#include "soundless_sound_pad.h"

class TimingPad : public SoundlessSoundPad {
 public:
  // Rectangle in window pixels. Main thread.
  TimingPad(float x, float y, float w, float h);
  ~TimingPad() override = default;

  // Draws the window texts for the stream time now. Main thread only.
  void Draw() override;

 protected:
  // Nothing to do per buffer. Audio thread only.
  void UpdateCallback(double streamTime) override;
};
