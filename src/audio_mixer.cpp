#include "audio_mixer.h"

#include "audio_probe.h"
#include "common.h"
#include "game_state.h"
#include "pointer_sample.h"
#include "sound_pad.h"

namespace {
constexpr double kPadGain = 0.5;
// How long after a step began, as heard, a press still counts for it: a quarter of a step
// (31 ms at 120 beats per minute), a little more than a player's late tap, plus one buffer,
// because a step's sounds start on the first buffer boundary inside it, up to a buffer late.
constexpr double kLateWindowSteps = 0.25;

// Channel a reader's right output comes from: 1, or 0 for a one-channel file.
template <typename Reader>
unsigned int RightChannel(const Reader& reader) {
  return reader.channelsOut() > 1 ? 1 : 0;
}

// The pad-list mutex is the one lock the callback takes: the main thread holds it only
// to insert or swap out the pad pointers, never while it builds, deletes or waits for
// anything else.
void LockPadList(GameState& state) {
  audio_probe::Exemption exempt(audio_probe::Allowed::kPadListMutex);
  SDL_LockMutex(state.mutex);
}

void UnlockPadList(GameState& state) {
  audio_probe::Exemption exempt(audio_probe::Allowed::kPadListMutex);
  SDL_UnlockMutex(state.mutex);
}

}  // namespace

int AudioMixerCallback(void* outputBuffer, void* /*inputBuffer*/, unsigned int nFrames,
                       double streamTime, RtAudioStreamStatus /*status*/,
                       void* /*userData*/) MARLUNE_NONBLOCKING {
  audio_probe::CallbackScope inCallback;
  GameState& state = gameState;
  double* out = static_cast<double*>(outputBuffer);
  const uint32_t generation = state.streamGeneration.load(std::memory_order_acquire);
  state.streamThreads.PublishAudioThread(generation);
  const uint8_t buttons =
      SamplePointerForBuffer(streamTime, state.outputLatency.load(std::memory_order_relaxed),
                             state.heardOffset.load(std::memory_order_relaxed), generation);

  for (unsigned int i = 0; i < 2 * nFrames; ++i) out[i] = 0.0;
  const StreamSupervisor::Buffer fate = state.streamSupervisor.BeginBuffer();
  // The previous buffer of a running take is recorded now that it is known to have been
  // played: no failed write was reported since, and it belongs to this stream. This comes
  // before the pads, as a take that stops in this buffer still holds the previous one.
  if (state.heldFrames > 0 && fate == StreamSupervisor::Buffer::kPlay &&
      state.heldGeneration == generation) {
    state.recorder.Capture(state.heldMix.data(), state.heldFrames);
  }
  state.heldFrames = 0;
  if (fate == StreamSupervisor::Buffer::kStop) {
    // The sound server or device is gone: the back end would call again at once, for ever.
    // Stopping here parks its thread; the main thread closes the stream and retries.
    EndBufferSample();
    return 2;
  }
  state.clock->BufferBegins(streamTime, nFrames);
  if (nFrames > GameState::kMaxBufferFrames) {  // never granted; stay silent
    EndBufferSample();
    return 0;
  }

  state.ApplyRequests();

  double* scratch = state.scratch.data();
  LockPadList(state);
  for (size_t p = 0; p < state.pads.size(); ++p) {
    state.pads[p]->AudioCallback(scratch, nFrames, streamTime);
    for (unsigned int j = 0; j < 2 * nFrames; ++j) out[j] += kPadGain * scratch[j];
  }
  UnlockPadList(state);

  stk::FileWvIn* effects[] = {&state.startSound, &state.stopSound, &state.selectSound,
                              &state.loadedSound, &state.quitSound};
  unsigned int effectRight[5];
  for (int e = 0; e < 5; ++e) effectRight[e] = RightChannel(*effects[e]);
  const unsigned int themeRight = RightChannel(state.menuTheme);
  for (unsigned int f = 0; f < nFrames; ++f) {
    double& left = out[2 * f];
    double& right = out[2 * f + 1];
    const double theme = state.menuTheme.tick(0);
    const double gain = state.menuThemeEnvelope.tick();
    left += theme * gain;
    for (stk::FileWvIn* effect : effects) left += effect->tick(0);
    right += state.menuTheme.lastOut(themeRight) * gain;
    for (int e = 0; e < 5; ++e) right += effects[e]->lastOut(effectRight[e]);
  }

  for (unsigned int f = 0; f < nFrames; ++f) LimitFrame(out[2 * f], out[2 * f + 1]);

  EndBufferSample();
  state.lastStreamTime.store(streamTime, std::memory_order_relaxed);
  state.lastMouseButtons.store(buttons, std::memory_order_relaxed);

  // A running take gets the limited mix, held until the next buffer shows it was played, then
  // copied into the recorder's lock-free ring, which its writer thread empties into the file.
  if (state.recorder.Capturing()) {
    for (unsigned int i = 0; i < 2 * nFrames; ++i) state.heldMix[i] = out[i];
    state.heldFrames = nFrames;
    state.heldGeneration = generation;
  }

  const double rate = state.clock->SampleRate();
  state.loopOptions.lateWindow.store(
      static_cast<double>(StepsToSamples(kLateWindowSteps)) / rate +
          static_cast<double>(state.bufferFrames.load(std::memory_order_relaxed)) / rate,
      std::memory_order_relaxed);
  return 0;
}
