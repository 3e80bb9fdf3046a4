#include "game_state.h"

#include <pthread.h>
#include <sched.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "audio_mixer.h"
#include "callback_timer.h"
#include "main_menu_scene.h"
#include "sound_pad.h"

namespace {
// A write past the process's file size limit (SIGXFSZ) or to a peer that has gone (SIGPIPE: a
// sound server that died under the audio library) would end the process. Ignored, they are
// ordinary write errors that the recorder and the audio library report. Set before the game
// state is built, as the audio library may reach for a sound server from its constructor.
const bool writeSignalsIgnored = [] {
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}();
}  // namespace

GameState gameState;

namespace {
constexpr unsigned int kFirstBufferFrames = 512;
#ifdef MARLUNE_AUDIO_PROBES
// The probe build times every buffer (reported at shutdown).
constexpr RtAudioCallback kStreamCallback = &callback_timer::TimedAudioMixerCallback;
#else
constexpr RtAudioCallback kStreamCallback = &AudioMixerCallback;
#endif

// The audio library reports its errors here instead of printing them: from its audio thread
// (a failed write each buffer once the server is gone) and from the thread that called it.
void OnStreamError(RtAudioError::Type type, const std::string& text) {
  const bool fatal = type != RtAudioError::WARNING && type != RtAudioError::DEBUG_WARNING;
  gameState.streamSupervisor.ReportError(fatal, text);
}

// The path whose latency reports a stream of the audio library's back end api gets.
StreamLatency::Path LatencyPath(RtAudio::Api api) {
  switch (api) {
    case RtAudio::LINUX_PULSE: return StreamLatency::Path::kPulse;
    case RtAudio::UNIX_JACK: return StreamLatency::Path::kJack;
    case RtAudio::LINUX_ALSA: return StreamLatency::Path::kAlsa;
    default: return StreamLatency::Path::kNone;
  }
}

// While it lives, the calling thread runs real-time (SCHED_RR at kAudioThreadPriority), where
// the system allows it; then it returns to its own scheduling. Threads started meanwhile
// inherit it: the audio library starts the stream's audio thread, and the PulseAudio client's
// I/O thread that carries every buffer to the server, while it opens and starts the stream,
// so both run real-time. Where real-time scheduling is refused, they run normally.
class RealtimeWhileOpening {
 public:
  RealtimeWhileOpening() {
    if (pthread_getschedparam(pthread_self(), &policy_, &param_) != 0) return;
    sched_param realtime{};
    realtime.sched_priority = GameState::kAudioThreadPriority;
    raised_ = pthread_setschedparam(pthread_self(), SCHED_RR, &realtime) == 0;
  }
  ~RealtimeWhileOpening() {
    if (raised_) pthread_setschedparam(pthread_self(), policy_, &param_);
  }
  RealtimeWhileOpening(const RealtimeWhileOpening&) = delete;
  RealtimeWhileOpening& operator=(const RealtimeWhileOpening&) = delete;

 private:
  int policy_ = SCHED_OTHER;
  sched_param param_{};
  bool raised_ = false;
};
}  // namespace

GameState::GameState()
    : menuTheme(kChunkThreshold, kChunkSize),
      loadedSound(kChunkThreshold, kChunkSize),
      stopSound(kChunkThreshold, kChunkSize),
      startSound(kChunkThreshold, kChunkSize),
      quitSound(kChunkThreshold, kChunkSize),
      selectSound(kChunkThreshold, kChunkSize),
      mutex(nullptr),
      scene(nullptr),
      audio(RtAudio::UNSPECIFIED),
      scratch(2 * kMaxBufferFrames, 0.0),
      heldMix(2 * kMaxBufferFrames, 0.0),
      rtAudioClock_(audio) {
  clock = &rtAudioClock_;
  scene = new MainMenuScene();
  mutex = SDL_CreateMutex();
}

GameState::~GameState() {
  // A fatal error can end the process while the stream still runs; stop the callback before
  // the pads it walks are deleted.
  streamSupervisor.Stopped();
  if (audio.isStreamOpen()) audio.closeStream();
  recorder.SetStreamRunning(false);
  delete scene;
  scene = nullptr;
  DeletePads();
  SDL_DestroyMutex(mutex);
}

void GameState::ReplaceScene(Scene* next) {
  delete scene;
  scene = next;
}

void GameState::DeletePads() {
  // The callback waits on the mutex only for the swap; the pads (their files and echo
  // buffers) are freed after it is released, when the callback no longer sees them.
  std::vector<SoundPad*> gone;
  SDL_LockMutex(mutex);
  gone.swap(pads);
  SDL_UnlockMutex(mutex);
  for (SoundPad* pad : gone) delete pad;
}

void GameState::InitRtAudio() {
  // The library's warnings would be printed once per buffer while a sound server is gone;
  // the stream's errors reach OnStreamError instead, and the program says what matters.
  audio.showWarnings(false);
  LoadSounds();
  OpenStream(kFirstBufferFrames);
}

void GameState::LoadSounds() {
  menuTheme.openFile("MarluneContent/sfx/menu_theme.wav", false, true, true);
  // The synthesis library's setTime scales the rate by the distance still to go, which is 0
  // before the first fade; set the rate of a full-scale ramp in kMenuThemeFadeTime directly.
  menuThemeEnvelope.setRate(1.0 / (kMenuThemeFadeTime * stk::Stk::sampleRate()));
  menuThemeEnvelope.setValue(0.0);
  loadedSound.openFile("MarluneContent/sfx/loaded.wav", false, true, true);
  loadedSound.normalize(0.75);
  startSound.openFile("MarluneContent/sfx/start.wav", false, true, true);
  startSound.normalize(0.75);
  stopSound.openFile("MarluneContent/sfx/stop.wav", false, true, true);
  stopSound.normalize(0.75);
  quitSound.openFile("MarluneContent/sfx/quit.wav", false, true, true);
  quitSound.normalize(0.75);
  selectSound.openFile("MarluneContent/sfx/select.wav", false, true, true);
  // Moving each reader past its end leaves it finished and silent until it is reset.
  for (stk::FileWvIn* effect : {&loadedSound, &startSound, &stopSound, &quitSound, &selectSound}) {
    effect->addTime(1000000.0);
  }
}

void GameState::ReinitRtAudio(unsigned int frames) {
  if (reopenStream != nullptr) {
    reopenStream(frames);
    return;
  }
  if (streamSupervisor.Lost()) {
    // No sound server to ask: the next attempt to reopen uses the new size.
    bufferFrames.store(frames);
    return;
  }
  streamSupervisor.Stopped();
  streamLatency.Stop();
  audio.closeStream();
  recorder.SetStreamRunning(false);
  OpenStream(frames);
}

void GameState::DeinitRtAudio() {
  streamSupervisor.Stopped();
  streamLatency.Stop();
  if (audio.isStreamOpen()) audio.closeStream();
  recorder.SetStreamRunning(false);
}

void GameState::SuperviseStream() {
  // A JACK server that shuts the program's client down has the library close the stream by
  // itself, from a thread of its own and without reporting an error. The stream stops counting
  // as open as the last step of that close: from then on it is a lost stream like any other,
  // and nothing here touches it while the library is still closing it.
  if (streamSupervisor.Running() && !audio.isStreamOpen()) {
    streamSupervisor.ReportError(true, "the sound server closed the stream");
  }
  const uint32_t now = SDL_GetTicks();
  switch (streamSupervisor.Poll(now)) {
    case StreamSupervisor::Action::kNone:
      if (streamSupervisor.Running() && reopenStream == nullptr) {
        streamLatency.Poll(now, lastStreamTime.load(std::memory_order_relaxed));
        if (streamLatency.Seconds() >= 0.0) {
          outputLatency.store(streamLatency.Seconds(), std::memory_order_relaxed);
        }
        heardOffset.store(streamLatency.HeardOffset(), std::memory_order_relaxed);
      }
      return;
    case StreamSupervisor::Action::kClose:
      // The mixer has stopped the stream's thread; closing joins it and frees the stream.
      streamLatency.Stop();
      try {
        if (audio.isStreamOpen()) audio.closeStream();
      } catch (RtAudioError&) {
        // Closing a broken stream frees it all the same.
      }
      recorder.SetStreamRunning(false);
      StopRecording();
      std::fprintf(stderr, "Audio: lost the sound device (%s), retrying\n",
                   streamSupervisor.LossReason());
      return;
    case StreamSupervisor::Action::kRetry:
      if (OpenStream(bufferFrames.load(), true)) std::fprintf(stderr, "Audio: sound resumed\n");
      return;
  }
}

bool GameState::OpenStream(unsigned int frames, bool retrying) {
  unsigned int devices = 0;
  try {
    devices = audio.getDeviceCount();
  } catch (RtAudioError&) {
  }
  if (devices == 0) {
    if (retrying) return false;
    std::fprintf(stderr, "Error: No audio devices found!\n");
    std::exit(1);
  }
  unsigned int granted = frames;
  streamSupervisor.TakeOpenError();  // an older failure is not this one's reason
  // With an error callback installed the library reports its failures there, not by throwing:
  // the reason it gave is what a failure says.
  const auto failure = [this](const char* fallback) {
    const std::string reason = streamSupervisor.TakeOpenError();
    return RtAudioError(reason.empty() ? fallback : reason);
  };
  try {
    RtAudio::StreamParameters output;
    output.deviceId = audio.getDefaultOutputDevice();
    output.nChannels = 2;
    output.firstChannel = 0;
    RtAudio::StreamOptions options;
    options.numberOfBuffers = kStreamBuffers;
    // A busy desktop (a browser churning memory, say) holds a normal thread off for longer
    // than the smaller buffers last; a real-time thread is not. The stream's threads inherit
    // real-time scheduling from the opening thread (the library's own request for it would
    // also print a line from its audio thread, into the middle of the program's messages).
    const double rate = stk::Stk::sampleRate();
    const StreamLatency::Path path = LatencyPath(audio.getCurrentApi());
    if (path == StreamLatency::Path::kPulse) StreamLatency::AskPulse(kStreamBuffers * frames / rate);
    RealtimeWhileOpening realtime;
    audio.openStream(&output, nullptr, RTAUDIO_FLOAT64,
                     static_cast<unsigned int>(rate), &granted,
                     kStreamCallback, nullptr, &options, &OnStreamError);
    if (!audio.isStreamOpen()) throw failure("the audio stream did not open");
    bufferFrames.store(granted);
    // Until the path that plays the stream reports its latency (StreamLatency, refreshed every
    // frame from SuperviseStream), the buffer a callback renders is taken to be heard after
    // the others queued: the latency JACK gave at opening (0 where its driver adds none), or
    // kStreamBuffers buffers but the one being rendered.
    outputLatency.store(path == StreamLatency::Path::kJack
                            ? audio.getStreamLatency() / rate
                            : (kStreamBuffers - 1) * static_cast<double>(granted) / rate);
    if (granted > kMaxBufferFrames) {
      std::fprintf(stderr, "Error: audio buffer of %u frames is larger than %u\n", granted,
                   kMaxBufferFrames);
    }
    // A reopened stream carries on from the buffer after the last one played, so the loop
    // resumes at the step where it stopped.
    if (retrying) audio.setStreamTime(lastStreamTime.load() + granted / stk::Stk::sampleRate());
    heardOffset.store(std::numeric_limits<double>::quiet_NaN(), std::memory_order_relaxed);
    streamSupervisor.Starting();
    streamGeneration.fetch_add(1, std::memory_order_release);
    recorder.SetStreamRunning(true);
    audio.startStream();
    if (!audio.isStreamRunning()) throw failure("the audio stream did not start");
    streamLatency.Start(audio, path, rate);
  } catch (RtAudioError& error) {
    if (!retrying) {
      error.printMessage();
      std::exit(1);
    }
    streamSupervisor.StartFailed();
    streamLatency.Stop();
    try {
      if (audio.isStreamOpen()) audio.closeStream();
    } catch (RtAudioError&) {
    }
    recorder.SetStreamRunning(false);
    return false;
  }
  return true;
}

void GameState::RestartSound(SoundEffect effect) {
  pendingRestarts_.fetch_or(1u << static_cast<uint32_t>(effect), std::memory_order_release);
}

void GameState::FadeMenuTheme(double target) {
  pendingFadeTarget_.store(target, std::memory_order_release);
}

stk::FileWvIn& GameState::Effect(SoundEffect effect) {
  switch (effect) {
    case SoundEffect::kLoaded: return loadedSound;
    case SoundEffect::kStop: return stopSound;
    case SoundEffect::kStart: return startSound;
    case SoundEffect::kQuit: return quitSound;
    case SoundEffect::kSelect: break;
  }
  return selectSound;
}

void GameState::ApplyRequests() {
  const uint32_t restarts = pendingRestarts_.exchange(0, std::memory_order_acquire);
  for (uint32_t bit = 0; bit <= static_cast<uint32_t>(SoundEffect::kSelect); ++bit) {
    if (restarts & (1u << bit)) Effect(static_cast<SoundEffect>(bit)).reset();
  }
  const double target = pendingFadeTarget_.exchange(-1.0, std::memory_order_acquire);
  if (target >= 0.0) menuThemeEnvelope.setTarget(target);
}
