#pragma once
// The on-screen switch that records the mix to a WAV file (2 channels, 16-bit, at the stream's
// rate). A left click on the pad opens a new file named after the local date and time and
// starts the recording; the next click stops it and completes the file. The buffer in which
// the starting click is seen is recorded; the one in which the stopping click is seen is not.
// The recording itself lives in gameState (recorder, recording), so there is one for the whole
// program.
//
// A file that cannot be created leaves the program not recording; the pad then shows a red
// "ERR" in place of "OFF" until its next click, which tries again.
//
// UpdateCallback: audio thread only, with the pad-list mutex held by the mixer; it opens and
// closes gameState.recorder there. Draw: main thread only. The pad's flags are atomics.

#include <atomic>
#include <ctime>
#include <string>

#include "soundless_sound_pad.h"

class RecordPad : public SoundlessSoundPad {
 public:
  // Rectangle in window pixels. Main thread.
  RecordPad(float x, float y, float w, float h);
  ~RecordPad() override = default;

  // Draws the frame, the label, the state ("ON", "OFF" or "ERR") and the highlight. Main
  // thread only.
  void Draw() override;

  // Path for a new recording in the recording folder, named after the local time now. Any
  // thread (reads the file system).
  static std::string RecordFilename();
  // Path for a new recording: folder + the local time `now` as "%Y-%m-%d_%H-%M", then "_2",
  // "_3"... until no file or folder of that name + ".wav" exists; ".wav" appended. Any thread.
  static std::string RecordFilename(const std::string& folder, std::time_t now);
  // Folder (ending in "/") that recordings go to; "../../../" by default, three levels above
  // the working directory, beside the application bundle. For tests: set it only while no
  // audio callback runs.
  static void SetRecordingFolder(const std::string& folder);
  static const std::string& RecordingFolder();

  // Stops a running recording: clears gameState.recording, closes gameState.recorder and
  // corrects the file's RIFF size (the audio library writes it 8 bytes too large). Does nothing
  // when not recording. Call with gameState.mutex held (the record pad's callback, the game
  // scene's teardown); allocation-free.
  static void CloseRecording();

  // True from a click on the pad until the left button is released. Safe from any thread.
  bool Pressed() const { return pressed_.load(std::memory_order_relaxed); }
  // True when the last attempt to start a recording could not create its file. Safe from
  // any thread.
  bool Failed() const { return failed_.load(std::memory_order_relaxed); }
  // Alpha (0 to 0.3) of the white highlight: 0.15 under the pointer, 0.15 while pressed.
  // Main thread.
  float OverlayAlpha() const;

 protected:
  // Starts or stops the recording on a click on the pad; clears the press on a release.
  // streamTime is not used. Audio thread only.
  void UpdateCallback(double streamTime) override;

 private:
  // Opens a new file and sets gameState.recording, or sets failed_. Audio thread only.
  void StartRecording();

  std::atomic<bool> pressed_{false};
  std::atomic<bool> failed_{false};
};
