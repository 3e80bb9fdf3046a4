// Marlune: start-up, the fixed-rate frame loop and shutdown.

#include <SDL.h>
#include <SDL_opengl.h>
#include <SDL_ttf.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "Stk.h"
#include "callback_timer.h"
#include "common.h"
#include "content_fonts.h"
#include "draw_list.h"
#include "frame_recorder.h"
#include "game_scene.h"
#include "game_state.h"
#include "input_source.h"
#include "resource_folder.h"
#include "sprite.h"
#include "texture.h"

SDL_Window* window = nullptr;

namespace {

constexpr Uint32 kFramePeriodMs = 16;

// Waits until the tick counter passes deadline (unsigned 32-bit comparison). A button press is
// stamped when SDL reads it from the window system, and the audio thread places it on the
// heard clock by that stamp, so events are read as they arrive, not at the next frame: with
// none waiting, the wait blocks on the window system's connection and wakes as one arrives;
// with some waiting for the scene (the pointer moving), it reads on every millisecond. Then a
// quarter millisecond at a time until the counter moves on, so the wait costs next to no CPU
// and ends at most about 0.3 ms after the tick.
void WaitUntil(Uint32 deadline) {
  for (;;) {
    const Sint32 remaining = static_cast<Sint32>(deadline - SDL_GetTicks());
    if (remaining < 0) return;
    if (remaining == 0) {
      SDL_PumpEvents();
      std::this_thread::sleep_for(std::chrono::microseconds(250));
    } else if (SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT)) {
      SDL_Delay(1);
      SDL_PumpEvents();
    } else {
      SDL_WaitEventTimeout(nullptr, remaining);
    }
  }
}

// Frames are drawn only when their picture changes (frame_recorder.h). When the window
// system has lost the window's picture (exposed, shown, resized, restored), the next frame
// is drawn whatever it holds. SDL calls the watch while the scene polls its events, on the
// main thread; the flag keeps the scenes' event handling untouched.
FrameRecorder frames;
std::atomic<bool> pictureLost{false};

int WatchWindow(void*, SDL_Event* event) {
  if (event->type != SDL_WINDOWEVENT) return 1;
  switch (event->window.event) {
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_SHOWN:
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
      pictureLost.store(true);
      break;
    default:
      break;
  }
  return 1;
}

// A first SIGINT, SIGTERM or SIGHUP (terminal closed, session ended) asks the program to quit
// through its normal shutdown, so an open recording is completed. A second one ends the
// process at once, but only once the recorder has completed an open recording (its writer
// thread closes the file and ends the process; without a recording that is at once). A third
// ends it unconditionally, in case the disk holds the writer up.
// The handler only counts: the frame loop reads the count at the start of every frame and
// quits itself. No event carries the request, so nothing that drains events (start-up, the
// set-up of a new game) can lose it. The handlers are installed before SDL starts, so SDL
// keeps them rather than installing its own.
constexpr int kSignalExitStatus = 130;
std::atomic<int> signalsReceived{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");

void OnSignal(int) {
  const int count = signalsReceived.fetch_add(1) + 1;
  if (count == 2) gameState.recorder.ExitWhenComplete(kSignalExitStatus);
  if (count >= 3) _exit(kSignalExitStatus);
}

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

void SetWindowIcon() {
  SDL_RWops* file = SDL_RWFromFile("MarluneContent/img/icon32.bmp", "rb");
  if (file == nullptr) return;
  SDL_Surface* icon = SDL_LoadBMP_RW(file, 1);
  if (icon == nullptr) return;
  SDL_SetColorKey(icon, SDL_TRUE, SDL_MapRGB(icon->format, 255, 0, 255));
  SDL_SetWindowIcon(window, icon);
  SDL_FreeSurface(icon);
}

void MainLoop() {
  RecordPointerPresses();
  Uint32 deadline = SDL_GetTicks() + kFramePeriodMs;
  WaitUntil(deadline);
  for (;;) {
    if (signalsReceived.load() > 0) {
      // As closing the window does: the game (if one runs) is torn down, its take stopped.
      GameScene::TearDownGame();
      return;
    }
    gameState.SuperviseStream();
    gameState.streamThreads.Poll(gameState.streamGeneration.load());
    if (!gameState.scene->InputLogic()) return;
    if (pictureLost.exchange(false)) frames.Invalidate();
    frames.BeginFrame();
    gameState.scene->Draw();  // InputLogic may have replaced the scene
    DrawVersionNumber();
    const bool shown = frames.EndFrame();
    if (shown) frames.Show();
    callback_timer::CountFrame(gameState.scene, shown, shown ? frames.LastRedrawnShare() : 0.0);
    deadline += kFramePeriodMs;
    WaitUntil(deadline);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  // The recorder's writer runs for the whole program, so a signal can always complete a
  // recording.
  gameState.recorder.StartWriter();
  InstallSignalHandlers();
  // Assets are looked up relative to the bundle's Resources folder; where it cannot be
  // entered, their loaders report what is missing.
  ResourceFolder::Enter(argc > 0 ? argv[0] : nullptr);

  if (SDL_Init(SDL_INIT_EVERYTHING) != 0) FatalError("Couldn't initialize SDL");

  char title[32];
  std::snprintf(title, sizeof title, "Marlune v%s", MARLUNE_VERSION);
  window = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 800, 600,
                            SDL_WINDOW_OPENGL);
  if (window == nullptr) FatalError("Couldn't set video mode");
  SDL_GL_CreateContext(window);
  SetWindowIcon();
  SDL_AddEventWatch(WatchWindow, nullptr);
  const char* frameCheck = std::getenv("MARLUNE_FRAME_CHECK");
  if (frameCheck != nullptr && std::string(frameCheck) == "1") frames.EnableCheck();
  // Where the picture is kept between frames, forced for the tests that prove each way.
  if (const char* keep = std::getenv("MARLUNE_PICTURE_KEEPER")) {
    FrameRecorder::Keeper keeper;
    if (!FrameRecorder::KeeperNamed(keep, &keeper)) {
      FatalError("MARLUNE_PICTURE_KEEPER is back-buffer, off-screen or none");
    }
    frames.ForceKeeper(keeper);
  }
  frames.Attach(window);

  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 800, 0, 600, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();

  Texture loadingTexture;
  loadingTexture.Load("MarluneContent/img/loading.png");
  Sprite loading;
  loading.Initialize(&loadingTexture, 0, 0, 800, 600, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  loading.Draw(0.0f, 0.0f, 0.0f);
  SDL_GL_SwapWindow(window);

  std::srand(static_cast<unsigned int>(std::time(nullptr)));
  if (TTF_Init() != 0) FatalError("Couldn't initialize SDL_ttf");
  stk::Stk::setRawwavePath("MarluneContent/sfx/rawwaves/");
  // The synthesis library's status lines stay off; its error messages still reach standard
  // error.
  stk::Stk::showWarnings(false);

  try {
    gameState.InitRtAudio();
  } catch (stk::StkError&) {
    // The synthesis library has already printed what could not be read.
    std::exit(1);
  }

  content.Load();

  gameState.RestartSound(SoundEffect::kLoaded);
  // Keys and clicks made while loading are dropped; a window closed meanwhile ends the program
  // from the menu's first frame.
  DropQueuedInput();
  gameState.FadeMenuTheme(1.0);

  MainLoop();

  gameState.FadeMenuTheme(0.0);
  gameState.RestartSound(SoundEffect::kQuit);
  SDL_Delay(1000);
  loadingTexture.Unload();
  draw::ReleaseTextCache();
  frames.Release();
  content.Unload();
  gameState.DeinitRtAudio();
  callback_timer::Print(stderr);
  frames.PrintCheck(stderr);
  TTF_Quit();
  SDL_Quit();
  return 0;
}
