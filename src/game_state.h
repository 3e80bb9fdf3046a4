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
// - recorder: the callback captures into it and the record pad starts and stops it, on the
//   audio thread; its own writer thread does the file work; StopRecording on the main thread
//   (recorder.h has the details).
// - lastStreamTime, lastMouseButtons, bufferFrames, outputLatency, heardOffset,
//   streamGeneration: atomics, safe from any thread; streamGeneration, outputLatency and
//   heardOffset change on the stream worker's thread only.
// - The pad-list mutex is held only to insert or swap out pointers, never around building or
//   deleting a pad.
// - streamThreads: the audio callback publishes its thread there, the main loop polls it.
// - The stream: the audio library is made, opened, started, closed, reopened and asked for
//   its latency by streamWorker's thread alone (stream_worker.h). The main thread only asks
//   (InitRtAudio, ReinitRtAudio, DeinitRtAudio) and reads its answers (SuperviseStream,
//   StreamAnswered), never waiting for it, but for a bounded time at shutdown.
//   streamSupervisor says which thread may call what.

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <vector>

#include "Envelope.h"
#include "FileLoop.h"
#include "FileWvIn.h"
#include "loop_options.h"
#include "realtime_threads.h"
#include "recorder.h"
#include "scene.h"
#include "stream_clock.h"
#include "stream_supervisor.h"
#include "stream_worker.h"

class SoundPad;

enum class SoundEffect : uint32_t { kLoaded, kStop, kStart, kQuit, kSelect };

struct GameState {
  // Ramp time of the menu theme's fade, seconds.
  static constexpr double kMenuThemeFadeTime = 1.0;
  // Largest buffer the callback renders, frames; larger device buffers are rendered silent.
  static constexpr unsigned int kMaxBufferFrames = 8192;
  // Real-time priority of the stream's threads (SCHED_RR). Modest: under the sound servers'
  // own audio threads (PulseAudio 5, PipeWire's data loops higher), over everything at normal
  // priority. Where the system refuses it rtkit is asked (streamThreads); where that fails too
  // the threads run at normal priority.
  static constexpr int kAudioThreadPriority = 4;
  // Every sound file reader loads a file of fewer frames than kChunkThreshold whole, a longer
  // one in chunks of kChunkSize frames.
  static constexpr unsigned long kChunkThreshold = 1000000;
  static constexpr unsigned long kChunkSize = 1024;

  // Builds every member and the first scene (a main menu). Runs before main.
  GameState();
  // Stops the stream if it still runs, then deletes the scene and every pad; the recorder then
  // completes an open recording. When the stream's thread is stuck inside the audio library
  // (a sound server that never answers; StreamWorker::Stop), the scene and pads are left as
  // they are (the stream's callback may not have ended) and the library is never touched.
  ~GameState();

  // Deletes the current scene and installs next (owned from now on). Main thread only.
  void ReplaceScene(Scene* next);
  // Takes every pad out of the list, holding the mutex only for the swap, and deletes them
  // once the callback no longer sees them. Main thread only.
  void DeletePads();

  // Loads the menu theme and effects (LoadSounds), then starts the stream worker, which opens
  // and starts the stream with 512 frames. Returns at once: StreamAnswered tells when the
  // stream opened, SuperviseStream ends the program if it could not. Main thread.
  void InitRtAudio();
  // Opens the menu theme (silent until faded in) and the five effects (finished until
  // restarted); an unreadable file throws stk::StkError. Main thread, before the stream runs.
  void LoadSounds();
  // Asks for the stream to be reopened with another buffer size, frames, which bufferFrames
  // holds from now on (until the device grants another). Returns at once. Main thread, with no
  // pads listed.
  void ReinitRtAudio(unsigned int frames);
  // Closes the stream and ends the stream worker, waiting for it at most kStopWaitMs. True
  // when no callback runs afterwards; false when the worker is stuck inside the audio library
  // (a sound server that never answers): then the library must not be touched again, and the
  // process should end without its exit-time destructors. Main thread.
  bool DeinitRtAudio();
  // Once per frame: acts on the answer to the last request for a stream. No output device:
  // "Error: No audio devices found!" and exit status 1; a stream that could not be opened or
  // started (the library's reason is printed): exit status 1. A stream lost later is the
  // stream worker's to reopen. Returns at once. Main thread.
  void SuperviseStream();
  // True once the last request for a stream has an answer. Main thread.
  bool StreamAnswered() const;
  // The sample rate of the stream about to start, frames per second. Stream worker's thread.
  void SetStreamRate(double rate) { streamClock_.SetSampleRate(rate); }
  // Longest wait of DeinitRtAudio for the stream worker, milliseconds.
  static constexpr uint32_t kStopWaitMs = 1000;
  // Buffers the sound server may queue for a stream, whatever their size, so that what the
  // player hears follows the menu's buffer size: 64 frames are heard sooner than 512, and a
  // busy machine may break the smallest up. Three is the fewest with which PulseAudio and
  // PipeWire's PulseAudio server played the default 512 frames cleanly beside other work; with
  // two, PulseAudio broke up there. Through the PulseAudio protocol the queue is never shorter
  // than the server plays at all (StreamLatency::PulseQueue). The audio library's ALSA back end
  // takes it as the device's periods; JACK keeps its own.
  static constexpr unsigned int kStreamBuffers = 3;

  // Asks the callback to restart a sound effect from its first frame. Safe from any thread.
  void RestartSound(SoundEffect effect);
  // Asks the callback to ramp the menu theme's gain to target (0 to 1) over
  // kMenuThemeFadeTime. Safe from any thread.
  void FadeMenuTheme(double target);
  // Applies the restarts and fade asked for since the previous buffer. Audio thread only.
  void ApplyRequests();
  // Ends the take running now (recorder.h): the audio thread marks its end at its next buffer,
  // or, with no stream running, the writer thread completes it with the audio captured so far.
  // Only posts the request, never blocks. Main thread, where no other take can start in
  // between: with no pad listed (the game torn down); or the stream worker, with no stream
  // running.
  void StopRecording() { recorder.RequestStop(recorder.RunningTake()); }
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
  // Stream time handed to the most recent audio callback, seconds.
  std::atomic<double> lastStreamTime{0.0};
  // Buttons sampled at the start of the most recent callback (1 left, 4 right; Shift + left
  // adds right).
  std::atomic<uint8_t> lastMouseButtons{0};
  // The mix recorder; recorder.Recording() is true while a recording runs.
  Recorder recorder;
  // Counts the streams opened: it changes before each one starts, so the audio thread can tell
  // the first buffer of a new stream.
  std::atomic<uint32_t> streamGeneration{0};
  // Audio buffer size, frames: 0 until the stream is first asked for; the size asked for last,
  // replaced by the size the device granted when its stream opens.
  std::atomic<unsigned int> bufferFrames{0};
  // Tells a failed stream from a running one and paces the attempts to reopen it.
  StreamSupervisor streamSupervisor;
  // Makes each stream's threads real-time once it plays: the callback publishes its thread,
  // the main loop polls (realtime_threads.h says which thread may call what).
  RealtimeThreads streamThreads{kAudioThreadPriority};
  // Time from the start of a callback's buffer to the player hearing it, seconds: as the path
  // that plays the stream reports it, until then an estimate from the buffers queued. 0 until
  // the stream opens. Written by the stream worker, read by the audio thread.
  std::atomic<double> outputLatency{0.0};
  // Heard stream time minus press-clock time, seconds, as the sound server places it (the
  // PulseAudio protocol); NaN while it has not. Set to NaN by the stream worker before a stream
  // starts, then refreshed there; read by the audio thread.
  std::atomic<double> heardOffset{std::numeric_limits<double>::quiet_NaN()};
  // Owns the stream: the one thread that calls the audio library (stream_worker.h).
  StreamWorker streamWorker{*this};

  // The stream's clock and rate; tests install their own before any callback runs.
  StreamClock* clock;
  // Stands in for closing the stream and opening it again with a buffer of the given frames
  // (ReinitRtAudio), for a test that plays the stream's buffers itself; null: the audio
  // library's stream. Main thread.
  void (*reopenStream)(unsigned int frames) = nullptr;
  // Scratch for the pads' output: 2 * kMaxBufferFrames interleaved doubles. Audio thread.
  std::vector<double> scratch;
  // The last buffer rendered for a running take, recorded once the next buffer shows that it
  // was played: 2 * kMaxBufferFrames interleaved doubles, heldFrames of them in use (0: none),
  // rendered for stream heldGeneration. Audio thread.
  std::vector<double> heldMix;
  unsigned int heldFrames = 0;
  uint32_t heldGeneration = 0;

 private:
  CallbackStreamClock streamClock_;
  // The number of the last request for a stream (StreamWorker::RequestOpen). Main thread.
  uint32_t streamRequest_ = 0;
  std::atomic<uint32_t> pendingRestarts_{0};
  std::atomic<double> pendingFadeTarget_{-1.0};  // negative: no fade requested
};

extern GameState gameState;
