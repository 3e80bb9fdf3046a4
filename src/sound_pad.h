#pragma once
// A pad: a rectangle on the game screen that draws itself on the main thread and takes part
// in every audio buffer on the audio thread.
//
// AudioCallback runs on the audio thread, once per buffer, with the pad-list mutex held by the
// mixer. Draw runs on the main thread, once per frame, without the mutex. Anything the audio
// side writes and the drawing side reads must be atomic.

class SoundPad {
 public:
  // Rectangle in window pixels: lower-left corner (x, y), y growing upward.
  SoundPad(float x, float y, float width, float height)
      : x(x), y(y), width(width), height(height) {}
  virtual ~SoundPad() = default;

  // Writes all 2 * nFrames interleaved stereo samples of buffer for the buffer that starts at
  // streamTime (seconds). Audio thread only.
  virtual void AudioCallback(double* buffer, unsigned int nFrames, double streamTime) = 0;
  // Draws the pad. Main thread only.
  virtual void Draw() = 0;

  float x;
  float y;
  float width;
  float height;

 protected:
  // Step of a switch pad's white highlight (alpha).
  static constexpr float kSwitchHighlight = 0.15f;
  // Alpha of a switch pad's highlight: one step under the pointer, one more while pressed.
  // Main thread.
  float SwitchHighlight(bool pressed) const;
};
