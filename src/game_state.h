#pragma once
// The one record that ties the program together: pads, scene, loop options, the audio stream,
// the menu theme and the interface sound effects, the mix recorder, the pad-list mutex and the
// values the audio callback publishes once per buffer.
//
// Threads:
// - pads: changed on the main thread only, under mutex; walked by the audio callback under
//   mutex and by drawing on the main thread without it.
// - menuTheme, menuThemeEnvelope and the five effects: ticked by the audio callback only. The
//   main thread asks for changes through RestartSound and FadeMenuTheme, which the callback
//   applies at the start of its next buffer.
// - recorder: opened and closed by the record pad on the audio thread and by the game scene on
//   the main thread, always under mutex; the callback writes to it under mutex.
// - lastStreamTime, lastMouseButtons, recording, bufferFrames: atomics, safe from any thread.

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "Envelope.h"
#include "FileLoop.h"
#include "FileWvIn.h"
#include "FileWvOut.h"
#include "RtAudio.h"
#include "loop_options.h"
#include "scene.h"
#include "stream_clock.h"

class SoundPad;

enum class SoundEffect : uint32_t { kLoaded, kStop, kStart, kQuit, kSelect };

struct GameState {
  // Ramp time of the menu theme's fade, seconds.
  static constexpr double kMenuThemeFadeTime = 1.0;
  // Largest buffer the callback renders, frames; larger device buffers are rendered silent.
  static constexpr unsigned int kMaxBufferFrames = 8192;

  // Builds every member and the first scene (a main menu). Runs before main.
  GameState();
  // Stops the stream if it still runs, then deletes the scene and every pad.
  ~GameState();

  // Deletes the current scene and installs next (owned from now on). Main thread only.
  void ReplaceScene(Scene* next);

  // Loads the menu theme and effects, opens and starts the stream with 512 frames. Main thread.
  void InitRtAudio();
  // Reopens the stream with another buffer size, frames. Main thread, with no pads listed.
  void ReinitRtAudio(unsigned int frames);
  // Closes the stream; no callback runs afterwards. Main thread.
  void DeinitRtAudio();
  // Buffers of `frames` frames the sound server may queue for a stream: four, or as many as
  // hold 1024 frames when the buffers are smaller (64 frames: 16). Any thread.
  static unsigned int StreamBuffers(unsigned int frames);

  // Asks the callback to restart a sound effect from its first frame. Safe from any thread.
  void RestartSound(SoundEffect effect);
  // Asks the callback to ramp the menu theme's gain to target (0 to 1) over
  // kMenuThemeFadeTime. Safe from any thread.
  void FadeMenuTheme(double target);
  // Applies the restarts and fade asked for since the previous buffer. Audio thread only.
  void ApplyRequests();
  // The sound effect reader for an effect. Audio thread (or before the stream runs).
  stk::FileWvIn& Effect(SoundEffect effect);

  std::vector<SoundPad*> pads;
  stk::FileLoop menuTheme;
  stk::Envelope menuThemeEnvelope;
  stk::FileWvIn loadedSound;
  stk::FileWvIn stopSound;
  stk::FileWvIn startSound;
  stk::FileWvIn quitSound;
  stk::FileWvIn selectSound;
  SDL_mutex* mutex;
  Scene* scene;
  LoopOptions loopOptions;
  RtAudio audio;
  // Stream time handed to the most recent audio callback, seconds.
  std::atomic<double> lastStreamTime{0.0};
  // Buttons sampled at the start of the most recent callback (1 left, 4 right; Shift + left
  // adds right).
  std::atomic<uint8_t> lastMouseButtons{0};
  stk::FileWvOut recorder;
  // True while recorder has a file open and receives every mixed buffer.
  std::atomic<bool> recording{false};
  // Audio buffer size, frames: 0 until the stream opens.
  std::atomic<unsigned int> bufferFrames{0};

  // The stream's clock and rate; tests install their own before any callback runs.
  StreamClock* clock;
  // Scratch for the pads' output: 2 * kMaxBufferFrames interleaved doubles. Audio thread.
  std::vector<double> scratch;
  // Frames handed to the recorder, sized once for the largest buffer. Audio thread.
  stk::StkFrames recordFrames;

 private:
  void OpenStream(unsigned int frames);

  RtAudioStreamClock rtAudioClock_;
  std::atomic<uint32_t> pendingRestarts_{0};
  std::atomic<double> pendingFadeTarget_{-1.0};  // negative: no fade requested
};

extern GameState gameState;
