#include "bench_support.h"

#include <unistd.h>

#include <cmath>
#include <vector>

#include "audio_mixer.h"
#include "game_state.h"
#include "pad_preset.h"
#include "sound_pad.h"
#include "wave_loop_pad.h"

uint32_t BenchInput::MouseState(int* x, int* y) const {
  if (x != nullptr) *x = sdlX;
  if (y != nullptr) *y = sdlY;
  return buttons;
}

bool BenchInput::PopPress(PointerPress* press) {
  const uint32_t fresh = buttons & ~recorded_ & (SDL_BUTTON_LMASK | SDL_BUTTON_RMASK);
  recorded_ = buttons;
  if (fresh == 0) return false;
  *press = PointerPress{0, sdlX, sdlY, (fresh & SDL_BUTTON_LMASK) ? uint32_t{SDL_BUTTON_LMASK} : uint32_t{SDL_BUTTON_RMASK},
                        false};
  return true;
}

void BenchInput::MoveTo(float x, float y) {
  sdlX = static_cast<int>(x);
  sdlY = 600 - static_cast<int>(y);
}

bool EnterResourceFolder() {
  return chdir(MARLUNE_RESOURCES_DIR) == 0 && access("MarluneContent/sfx/metronome.wav", R_OK) == 0;
}

namespace {

// Opens the menu theme and the interface sounds as the program's start-up does (without
// opening a stream): in a game the theme keeps looping at gain 0 and the finished effects keep
// being ticked, which is part of every buffer's cost.
void OpenMenuSounds() {
  gameState.menuTheme.openFile("MarluneContent/sfx/menu_theme.wav", false, true, true);
  gameState.menuThemeEnvelope.setValue(0.0);
  const struct {
    stk::FileWvIn* reader;
    const char* file;
  } effects[] = {{&gameState.loadedSound, "MarluneContent/sfx/loaded.wav"},
                 {&gameState.startSound, "MarluneContent/sfx/start.wav"},
                 {&gameState.stopSound, "MarluneContent/sfx/stop.wav"},
                 {&gameState.quitSound, "MarluneContent/sfx/quit.wav"},
                 {&gameState.selectSound, "MarluneContent/sfx/select.wav"}};
  for (const auto& effect : effects) {
    effect.reader->openFile(effect.file, false, true, true);
    effect.reader->addTime(1000000.0);  // finished, as after playing once
  }
}

}  // namespace

double PrepareFullGame(BenchInput& input, BenchClock& clock) {
  SetInputSource(&input);
  gameState.clock = &clock;
  gameState.bufferFrames.store(512);
  OpenMenuSounds();
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
