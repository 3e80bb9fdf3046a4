#include "bench_support.h"

#include <unistd.h>

#include <vector>

#include "audio_mixer.h"
#include "game_state.h"
#include "pad_preset.h"
#include "sound_pad.h"
#include "wave_loop_pad.h"

bool EnterResourceFolder() {
  return chdir(MARLUNE_RESOURCES_DIR) == 0 && access("MarluneContent/sfx/metronome.wav", R_OK) == 0;
}

double PrepareFullGame(FakeInput& input, FakeClock& clock) {
  SetInputSource(&input);
  gameState.clock = &clock;
  gameState.bufferFrames.store(512);
  // In a game the theme keeps looping at gain 0 and the finished effects keep being ticked,
  // which is part of every buffer's cost.
  gameState.LoadSounds();
  PresetInit();

  constexpr unsigned int kFrames = 512;
  std::vector<double> out(2 * kFrames);
  double t = 0.0;
  auto play = [&](double seconds) {
    for (double end = t + seconds; t < end; t += kFrames / 44100.0) {
      AudioMixerCallback(out.data(), nullptr, kFrames, t, 0, nullptr);
    }
  };
  auto click = [&](float x, float y) {
    input.MoveTo(x, y);
    input.buttons = SDL_BUTTON_LMASK;
    play(0.02);
    input.buttons = 0;
    play(0.02);
  };

  click(100, 537);  // the metronome's switch
  const double loop = gameState.loopOptions.LoopLength();
  int i = 0;
  for (SoundPad* pad : gameState.pads) {
    if (dynamic_cast<WaveLoopPad*>(pad) == nullptr) continue;
    const float fraction = 0.1f + 0.08f * static_cast<float>(i++);
    input.MoveTo(pad->x + pad->width * fraction, pad->y + pad->height * (1.0f - fraction));
    input.buttons = SDL_BUTTON_LMASK;
    play(loop + 0.2);
    input.buttons = 0;
  }
  input.MoveTo(0, 0);  // over no pad
  play(loop);          // every pad sounding, echoes ringing
  return t;
}
