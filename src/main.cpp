// Marlune: start-up, the fixed-rate frame loop and shutdown.

#include <SDL.h>
#include <SDL_opengl.h>
#include <SDL_ttf.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "Stk.h"
#include "callback_timer.h"
#include "common.h"
#include "content_fonts.h"
#include "game_state.h"
#include "input_source.h"
#include "sprite.h"
#include "texture.h"

SDL_Window* window = nullptr;

namespace {

constexpr Uint32 kFramePeriodMs = 16;

// Waits until the tick counter passes deadline (unsigned 32-bit comparison), pumping events
// every millisecond meanwhile: a button press is stamped when it is pumped, and the audio
// thread places it on the heard clock by that stamp, so it must not wait for the next frame.
void WaitUntil(Uint32 deadline) {
  for (;;) {
    SDL_PumpEvents();
    const Uint32 now = SDL_GetTicks();
    const Sint32 remaining = static_cast<Sint32>(deadline - now);
    if (remaining < 0) return;
    SDL_Delay(remaining > 0 ? 1 : 0);
  }
}

// A first SIGINT or SIGTERM asks the program to quit through its normal shutdown, so an open
// recording is completed; a second one ends the process at once. The handler only notes the
// signal: the frame loop turns it into a quit event on the main thread, because pushing the
// event from the handler would take SDL's event-queue lock inside a signal, and a signal that
// arrives during start-up would be thrown away with the input that start-up discards.
volatile std::sig_atomic_t signalReceived = 0;

void OnSignal(int) {
  if (signalReceived != 0) _exit(130);
  signalReceived = 1;
}

// Posts one quit event once a signal has arrived. Main thread.
void PostQuitOnSignal() {
  static bool posted = false;
  if (signalReceived == 0 || posted) return;
  posted = true;
  SDL_Event quit;
  SDL_zero(quit);
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
}

void ChangeToResourceFolder(const char* programPath) {
  const std::string path = programPath != nullptr ? programPath : "";
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return;
  const std::string resources = path.substr(0, slash) + "/../Resources";
  if (chdir(resources.c_str()) != 0) {
    // Assets are looked up relative to the current folder; their loaders report what is missing.
  }
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

#ifdef MARLUNE_AUDIO_PROBES
// The probe build reports the time from process start to the first frame and the frame
// period's mean and spread at shutdown.
class FrameStatistics {
 public:
  void Frame() {
    const auto now = std::chrono::steady_clock::now();
    if (frames_ == 0) {
      firstFrameMs_ = std::chrono::duration<double, std::milli>(now - start_).count();
    } else {
      const double period = std::chrono::duration<double, std::milli>(now - last_).count();
      sum_ += period;
      sumSquares_ += period * period;
    }
    last_ = now;
    ++frames_;
  }
  void Print() const {
    const long periods = frames_ - 1;
    if (periods < 1) return;
    const double mean = sum_ / periods;
    const double spread = std::sqrt(std::max(0.0, sumSquares_ / periods - mean * mean));
    std::fprintf(stderr, "frame timing: first frame %.0f ms after start, %ld frames, period %.3f ms mean, %.3f ms standard deviation\n",
                 firstFrameMs_, frames_, mean, spread);
  }

 private:
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_;
  double firstFrameMs_ = 0.0;
  double sum_ = 0.0;
  double sumSquares_ = 0.0;
  long frames_ = 0;
};
FrameStatistics frameStatistics;
#endif

void MainLoop() {
  RecordPointerPresses();
  Uint32 deadline = SDL_GetTicks() + kFramePeriodMs;
  WaitUntil(deadline);
  for (;;) {
    PostQuitOnSignal();
    if (!gameState.scene->InputLogic()) return;
    glClear(GL_COLOR_BUFFER_BIT);
    gameState.scene->Draw();  // InputLogic may have replaced the scene
    DrawVersionNumber();
    SDL_GL_SwapWindow(window);
#ifdef MARLUNE_AUDIO_PROBES
    frameStatistics.Frame();
#endif
    deadline += kFramePeriodMs;
    WaitUntil(deadline);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  ChangeToResourceFolder(argc > 0 ? argv[0] : nullptr);

  if (SDL_Init(SDL_INIT_EVERYTHING) != 0) FatalError("Couldn't initialize SDL");
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  char title[32];
  std::snprintf(title, sizeof title, "Marlune v%s", MARLUNE_VERSION);
  window = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 800, 600,
                            SDL_WINDOW_OPENGL);
  if (window == nullptr) FatalError("Couldn't set video mode");
  SDL_GL_CreateContext(window);
  SetWindowIcon();

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
  // The synthesis library's status lines ("creating WAV file ...") would be printed from the
  // audio thread when a recording starts; its error messages still reach standard error.
  stk::Stk::showWarnings(false);

  try {
    gameState.InitRtAudio();
  } catch (stk::StkError&) {
    // The synthesis library has already printed what could not be read.
    std::exit(1);
  }

  content.Load();
  content.menuBackdropTexture.Load("MarluneContent/img/backdrop_main_menu.png");
  content.menuBackdrop.Initialize(&content.menuBackdropTexture, 0, 0, 800, 600, 0, 0);
  content.gameBackdropTexture.Load("MarluneContent/img/backdrop_game.png");
  content.gameBackdrop.Initialize(&content.gameBackdropTexture, 0, 0, 800, 600, 0, 0);

  gameState.RestartSound(SoundEffect::kLoaded);
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
  }
  gameState.FadeMenuTheme(1.0);

  MainLoop();

  gameState.FadeMenuTheme(0.0);
  gameState.RestartSound(SoundEffect::kQuit);
  SDL_Delay(1000);
  loadingTexture.Unload();
  TTF_CloseFont(content.smallFont);
  TTF_CloseFont(content.mediumFont);
  TTF_CloseFont(content.largeFont);
  content.menuBackdropTexture.Unload();
  content.gameBackdropTexture.Unload();
  gameState.DeinitRtAudio();
#ifdef MARLUNE_AUDIO_PROBES
  callback_timer::Print(stderr);
  frameStatistics.Print();
#endif
  TTF_Quit();
  SDL_Quit();
  return 0;
}
