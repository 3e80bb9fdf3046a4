#include "main_menu_scene.h"

#include <cassert>
#include <cstdio>

#include "common.h"
#include "content_fonts.h"
#include "game_scene.h"
#include "game_state.h"
#include "pad_preset.h"
#include "pointer_sample.h"

namespace {
constexpr SDL_Color kSelected{255, 255, 0, 0};
constexpr SDL_Color kUnselected{192, 192, 192, 0};
}  // namespace

unsigned int MainMenuScene::NextBufferSize(unsigned int current) {
  switch (current) {
    case 64: return 128;
    case 128: return 256;
    case 256: return 512;
    case 512: return 1024;
    case 1024: return 2048;
    case 2048: return 64;
    default: return 512;
  }
}

bool MainMenuScene::InputLogic() {
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    if (event.type == SDL_QUIT) return false;
    if (event.type != SDL_KEYDOWN) continue;
    switch (event.key.keysym.sym) {
      case SDLK_UP:
        selection = clamp(selection - 1, 0, 2);
        gameState.RestartSound(SoundEffect::kSelect);
        break;
      case SDLK_DOWN:
        selection = clamp(selection + 1, 0, 2);
        gameState.RestartSound(SoundEffect::kSelect);
        break;
      case SDLK_ESCAPE:
        if (selection == 2) return false;
        selection = 2;
        break;
      case SDLK_RETURN:
        assert(selection >= 0 && selection <= 2);
        if (selection == 0) {
          StartGame();
          return true;  // this menu no longer exists
        }
        if (selection == 1) {
          ChangeBufferSize();
          gameState.RestartSound(SoundEffect::kLoaded);
        } else {
          return false;
        }
        break;
      default:
        break;
    }
  }
  return true;
}

void MainMenuScene::Draw() {
  content.menuBackdrop.Draw(0.0f, 0.0f, 0.0f);
  char bufferLabel[32];
  std::snprintf(bufferLabel, sizeof bufferLabel, "Buffer Size: %u", gameState.bufferFrames.load());
  RenderText(content.largeFont, selection == 0 ? kSelected : kUnselected, 100, 150, "Start");
  RenderText(content.largeFont, selection == 1 ? kSelected : kUnselected, 100, 120, bufferLabel);
  RenderText(content.largeFont, selection == 2 ? kSelected : kUnselected, 100, 90, "Quit");
}

void MainMenuScene::StartGame() {
  // Nothing done while the game is set up reaches it: the pads drop every press from here
  // until the events that queued meanwhile have been drained.
  HoldPresses();
  gameState.FadeMenuTheme(0.0);
  gameState.RestartSound(SoundEffect::kStart);
  gameState.ReplaceScene(new GameScene());  // deletes this menu
  PresetInit();
  // Drops what the window system queued meanwhile; a window closed meanwhile is acted on by
  // the game, which tears itself down and ends the program, on its first frame.
  DropQueuedInput();
  ReleasePresses(SDL_GetTicks());
}

void MainMenuScene::ChangeBufferSize() {
  gameState.ReinitRtAudio(NextBufferSize(gameState.bufferFrames.load()));
}
