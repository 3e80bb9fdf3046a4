#pragma once
// A pad that clicks on every beat of the loop while it is switched on, and flashes on the beat.
// A left press on the pad switches it on or off (it starts off); holding the button does not
// switch it again. Switching in either direction stops a sounding click at once; after
// switching on, the first click sounds at the next beat.
//
// MonoAudioCallback: audio thread only, with the pad-list mutex held by the mixer. Draw: main
// thread only. The two flags are written on the audio thread and read when drawing, so they
// are atomics; the click reader is used on the audio thread only.

#include <atomic>
#include <string>

#include "FileWvIn.h"
#include "mono_sound_pad.h"

class MetronomePad : public MonoSoundPad {
 public:
  // The click sample played on every beat.
  static constexpr const char* kClickFile = "MarluneContent/sfx/metronome.wav";

  // Rectangle in window pixels; clickFile is the sample to play (the program always uses
  // kClickFile). A file that cannot be opened throws stk::StkError. Main thread.
  MetronomePad(float x, float y, float width, float height,
               const std::string& clickFile = kClickFile);
  ~MetronomePad() override = default;

  // Draws the frame, the label, "ON" or "OFF" and the highlight. Main thread only.
  void Draw() override;

  // True while the metronome is switched on. Safe from any thread.
  bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }
  // True from a switching press until the left button is released. Safe from any thread.
  bool Pressed() const { return pressed_.load(std::memory_order_relaxed); }
  // Alpha (0 to 0.45) of the white highlight drawn over the pad at stream time t (seconds):
  // 0.15 under the pointer, 0.15 while the switching press is held, 0.15 in a beat window
  // while switched on. Main thread.
  float OverlayAlpha(double t) const;

 protected:
  // Takes the switching press, restarts the click on every beat and renders nFrames mono
  // samples (the click, or silence while off). Audio thread only.
  void MonoAudioCallback(double* buffer, unsigned int nFrames, double streamTime) override;

 private:
  std::atomic<bool> enabled_{false};
  std::atomic<bool> pressed_{false};
  stk::FileWvIn click_;
};
