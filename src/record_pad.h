#pragma once
// The on-screen switch that records the mix to a WAV file (2 channels, 16-bit, at the stream's
// rate). A left click on the pad starts a recording into a new file named after the local date
// and time; the next click stops it. The buffer in which the starting click is seen is
// recorded; the one in which the stopping click is seen is not. The recording itself is
// gameState.recorder's (see recorder.h), so there is one for the whole program: the pad only
// posts the start and the stop, and the recorder's writer thread creates, writes and completes
// the file.
//
// A recording whose file cannot be created, written or completed stops; the pad then shows a
// red "ERR" in place of "OFF" until its next click, which tries again.
//
// UpdateCallback: audio thread only, inside the mixer's pad loop. Draw: main thread only. The
// pad's flag is an atomic.

#include <atomic>

#include "soundless_sound_pad.h"

class RecordPad : public SoundlessSoundPad {
 public:
  // Rectangle in window pixels. Main thread.
  RecordPad(float x, float y, float w, float h);
  ~RecordPad() override = default;

  // Draws the frame, the label, the state ("ON", "OFF" or "ERR") and the highlight. Main
  // thread only.
  void Draw() override;

  // True from a click on the pad until the left button is released. Safe from any thread.
  bool Pressed() const { return pressed_.load(std::memory_order_relaxed); }
  // True when the last recording could not be created, written or completed, until the next
  // start. Safe from any thread.
  static bool Failed();
  // Alpha (0 to 0.3) of the white highlight: 0.15 under the pointer, 0.15 while pressed.
  // Main thread.
  float OverlayAlpha() const;

 protected:
  // Starts or stops the recording on a click on the pad; clears the press on a release.
  // streamTime is not used. Audio thread only.
  void UpdateCallback(double streamTime) override;

 private:
  std::atomic<bool> pressed_{false};
};
