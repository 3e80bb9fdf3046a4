#include "game_scene.h"

#include "content_fonts.h"
#include "draw_list.h"
#include "game_state.h"
#include "main_menu_scene.h"
#include "sound_pad.h"

void GameScene::TearDownGame() {
  gameState.DeletePads();
  gameState.StopRecording();
}

bool GameScene::InputLogic() {
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    if (event.type == SDL_QUIT) {
      TearDownGame();
      return false;
    }
    if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) {
      // ReturnToMenu deletes this scene; the rest of the frame's events are handled without
      // touching it (a second Escape returns to the menu once more).
      ReturnToMenu();
    }
  }
  return true;
}

void GameScene::Draw() {
  content.gameBackdrop.Draw(0.0f, 0.0f, 0.0f);
  for (size_t i = 0; i < gameState.pads.size(); ++i) {
    draw::PushAttrib(GL_ALL_ATTRIB_BITS);
    gameState.pads[i]->Draw();
    draw::PopAttrib();
  }
}

void GameScene::ReturnToMenu() {
  TearDownGame();
  gameState.FadeMenuTheme(1.0);
  gameState.RestartSound(SoundEffect::kStop);
  gameState.ReplaceScene(new MainMenuScene());
}
