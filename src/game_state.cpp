#include "game_state.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "audio_mixer.h"
#include "callback_timer.h"
#include "main_menu_scene.h"
#include "sound_pad.h"

GameState gameState;

namespace {
constexpr unsigned int kChunkThreshold = 1000000;
constexpr unsigned int kChunkSize = 1024;
constexpr unsigned int kFirstBufferFrames = 512;
// Buffers the sound server may queue ahead of the callback. The library's default lets a
// PulseAudio server queue far more than a loop step, so a click in time with what the player
// hears would land on a later step; four buffers match what the ALSA back end uses.
constexpr unsigned int kStreamBuffers = 4;
// Fewest frames the server may hold queued, whatever the buffer size. PulseAudio wakes its
// sink every quarter of what a stream may queue: with four 64-frame buffers that is every
// 1.5 ms, and the sound broke up constantly. PipeWire's PulseAudio server never runs a period
// under 256 frames at 48 kHz, so less than two of those queued cannot play through. Small
// buffers get more of them instead; the callback still runs once per buffer.
constexpr unsigned int kMinQueuedFrames = 1024;
#ifdef MARLUNE_AUDIO_PROBES
// The probe build times every buffer (reported at shutdown).
constexpr RtAudioCallback kStreamCallback = &callback_timer::TimedAudioMixerCallback;
#else
constexpr RtAudioCallback kStreamCallback = &AudioMixerCallback;
#endif
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
      recorder(1024),
      scratch(2 * kMaxBufferFrames, 0.0),
      recordFrames(kMaxBufferFrames, 2),
      rtAudioClock_(audio) {
  clock = &rtAudioClock_;
  scene = new MainMenuScene();
  mutex = SDL_CreateMutex();
}

GameState::~GameState() {
  // A fatal error can end the process while the stream still runs; stop the callback before
  // the pads it walks are deleted.
  if (audio.isStreamOpen()) audio.closeStream();
  SDL_LockMutex(mutex);
  delete scene;
  scene = nullptr;
  for (size_t i = 0; i < pads.size(); ++i) delete pads[i];
  pads.clear();
  SDL_UnlockMutex(mutex);
  SDL_DestroyMutex(mutex);
}

void GameState::ReplaceScene(Scene* next) {
  delete scene;
  scene = next;
}

void GameState::InitRtAudio() {
  audio.showWarnings(true);
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
  OpenStream(kFirstBufferFrames);
}

void GameState::ReinitRtAudio(unsigned int frames) {
  audio.closeStream();
  OpenStream(frames);
}

void GameState::DeinitRtAudio() { audio.closeStream(); }

void GameState::OpenStream(unsigned int frames) {
  if (audio.getDeviceCount() == 0) {
    std::fprintf(stderr, "Error: No audio devices found!\n");
    std::exit(1);
  }
  RtAudio::StreamParameters output;
  output.deviceId = audio.getDefaultOutputDevice();
  output.nChannels = 2;
  output.firstChannel = 0;
  RtAudio::StreamOptions options;
  options.numberOfBuffers = StreamBuffers(frames);
  unsigned int granted = frames;
  try {
    audio.openStream(&output, nullptr, RTAUDIO_FLOAT64,
                     static_cast<unsigned int>(stk::Stk::sampleRate()), &granted,
                     kStreamCallback, nullptr, &options, nullptr);
    bufferFrames.store(granted);
    if (granted > kMaxBufferFrames) {
      std::fprintf(stderr, "Error: audio buffer of %u frames is larger than %u\n", granted,
                   kMaxBufferFrames);
    }
    audio.startStream();
  } catch (RtAudioError& error) {
    error.printMessage();
    std::exit(1);
  }
}

unsigned int GameState::StreamBuffers(unsigned int frames) {
  if (frames == 0 || frames >= kMinQueuedFrames / kStreamBuffers) return kStreamBuffers;
  return (kMinQueuedFrames + frames - 1) / frames;
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
