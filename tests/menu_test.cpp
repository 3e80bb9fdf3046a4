// The main menu's keyboard handling and its buffer-size cycle.

#include <SDL.h>

#include "game_state.h"
#include "main_menu_scene.h"
#include "test_support.h"

namespace {

class MenuTest : public EngineTest {
 protected:
  static void SetUpTestSuite() { SDL_InitSubSystem(SDL_INIT_EVENTS); }
  static void TearDownTestSuite() { SDL_QuitSubSystem(SDL_INIT_EVENTS); }
  void SetUp() override {
    EngineTest::SetUp();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
  }

  static void Key(SDL_Keycode key) {
    SDL_Event event;
    SDL_zero(event);
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = key;
    SDL_PushEvent(&event);
  }
};

TEST(MenuBufferSizes, CycleThroughTheOfferedSizes) {
  unsigned int size = 64;
  const unsigned int expected[] = {128, 256, 512, 1024, 2048, 64};
  for (unsigned int next : expected) {
    size = MainMenuScene::NextBufferSize(size);
    EXPECT_EQ(size, next);
  }
  EXPECT_EQ(MainMenuScene::NextBufferSize(441), 512u) << "a granted odd size falls back";
}

// Every size the menu offers keeps at least 1024 frames queued, in four buffers or, for
// buffers too small for that, in as few more as reach it.
TEST(MenuBufferSizes, EverySizeIsOpenedWithEnoughQueued) {
  const struct {
    unsigned int frames, buffers;
  } cases[] = {{64, 16}, {128, 8}, {256, 4}, {512, 4}, {1024, 4}, {2048, 4}, {236, 5}, {0, 4}};
  for (const auto& c : cases) {
    EXPECT_EQ(GameState::StreamBuffers(c.frames), c.buffers) << c.frames << " frames";
  }
}

TEST_F(MenuTest, ArrowsMoveTheSelectionWithinTheEntries) {
  MainMenuScene menu;
  Key(SDLK_UP);
  EXPECT_TRUE(menu.InputLogic());
  EXPECT_EQ(menu.selection, 0) << "Up on Start stays on Start";
  Key(SDLK_DOWN);
  Key(SDLK_DOWN);
  Key(SDLK_DOWN);
  EXPECT_TRUE(menu.InputLogic());
  EXPECT_EQ(menu.selection, 2);
  Key(SDLK_UP);
  EXPECT_TRUE(menu.InputLogic());
  EXPECT_EQ(menu.selection, 1);
}

TEST_F(MenuTest, EscapeSelectsQuitThenQuits) {
  MainMenuScene menu;
  Key(SDLK_ESCAPE);
  EXPECT_TRUE(menu.InputLogic());
  EXPECT_EQ(menu.selection, 2);
  Key(SDLK_ESCAPE);
  EXPECT_FALSE(menu.InputLogic());
}

TEST_F(MenuTest, ReturnOnQuitEndsTheProgram) {
  MainMenuScene menu;
  menu.selection = 2;
  Key(SDLK_RETURN);
  EXPECT_FALSE(menu.InputLogic());
}

TEST_F(MenuTest, WindowCloseEndsTheProgramWithoutStartingAnything) {
  MainMenuScene menu;
  SDL_Event quit;
  SDL_zero(quit);
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  Key(SDLK_RETURN);
  EXPECT_FALSE(menu.InputLogic());
  EXPECT_TRUE(gameState.pads.empty());
}

}  // namespace
