#include "game_state.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "main_menu_scene.h"
#include "rt_audio_stream_device.h"
#include "sound_pad.h"

namespace {
// A write past the process's file size limit (SIGXFSZ) or to a peer that has gone (SIGPIPE: a
// sound server that died under the audio library) would end the process. Ignored, they are
// ordinary write errors that the recorder and the audio library report. Set before the game
// state is built, before anything can reach for a sound server.
const bool writeSignalsIgnored = [] {
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}();
}  // namespace

GameState gameState;

namespace {
constexpr unsigned int kFirstBufferFrames = 512;
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
      scratch(2 * kMaxBufferFrames, 0.0),
      heldMix(2 * kMaxBufferFrames, 0.0) {
  clock = &streamClock_;
  scene = new MainMenuScene();
  mutex = SDL_CreateMutex();
}

GameState::~GameState() {
  // A fatal error can end the process while the stream still runs; stop the callback before
  // the pads it walks are deleted.
  if (!DeinitRtAudio()) {
    // The stream's thread is stuck inside the audio library, and the callback may not have
    // ended: nothing it reaches is freed. The recorder completes an open recording.
    recorder.SetStreamRunning(false);
    return;
  }
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
  LoadSounds();
  bufferFrames.store(kFirstBufferFrames);
  streamRequest_ = streamWorker.Start(
      [this] {
        return std::make_unique<RtAudioStreamDevice>(streamSupervisor, kStreamBuffers,
                                                     kAudioThreadPriority);
      },
      kFirstBufferFrames);
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
  bufferFrames.store(frames);
  streamRequest_ = streamWorker.RequestOpen(frames);
}

bool GameState::DeinitRtAudio() {
  if (!streamWorker.Stop(kStopWaitMs)) return false;
  recorder.SetStreamRunning(false);
  return true;
}

bool GameState::StreamAnswered() const {
  return streamWorker.AnswerTo(streamRequest_) != StreamWorker::Answer::kPending;
}

void GameState::SuperviseStream() {
  switch (streamWorker.AnswerTo(streamRequest_)) {
    case StreamWorker::Answer::kNoDevice:
      std::fprintf(stderr, "Error: No audio devices found!\n");
      std::exit(1);
    case StreamWorker::Answer::kFailed:
      std::exit(1);  // the stream worker has printed the library's reason
    default:
      return;
  }
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
