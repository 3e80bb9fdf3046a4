// Cost of one frame's drawing on the main thread: the game screen (backdrop, all thirteen pads
// with every step holding a note, the version label) and the main menu, drawn with legacy
// OpenGL into an 800 x 600 window and finished (glFinish), as the frame loop does before its
// buffer swap. Needs a display: run it under scripts/rig.sh; without DISPLAY it skips.

#include <SDL.h>
#include <SDL_opengl.h>
#include <SDL_ttf.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

#include "bench_support.h"
#include "common.h"
#include "content_fonts.h"
#include "game_scene.h"
#include "game_state.h"
#include "main_menu_scene.h"

namespace {

BenchInput input;
BenchClock benchClock;
SDL_Window* benchWindow = nullptr;
const char* skipReason = nullptr;

// Opens the window and loads what the two scenes draw with, as the program's start-up does.
bool OpenDisplay() {
  if (std::getenv("DISPLAY") == nullptr) {
    skipReason = "no DISPLAY: run under scripts/rig.sh";
    return false;
  }
  if (!EnterResourceFolder()) {
    skipReason = "generated content missing: build the default target first";
    return false;
  }
  if (SDL_Init(SDL_INIT_VIDEO) != 0 || TTF_Init() != 0) {
    skipReason = "SDL could not start";
    return false;
  }
  benchWindow = SDL_CreateWindow("Marlune draw benchmark", SDL_WINDOWPOS_UNDEFINED,
                                 SDL_WINDOWPOS_UNDEFINED, 800, 600, SDL_WINDOW_OPENGL);
  if (benchWindow == nullptr || SDL_GL_CreateContext(benchWindow) == nullptr) {
    skipReason = "no OpenGL window";
    return false;
  }
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0, 800, 0, 600, -1, 1);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  content.Load();
  content.menuBackdropTexture.Load("MarluneContent/img/backdrop_main_menu.png");
  content.menuBackdrop.Initialize(&content.menuBackdropTexture, 0, 0, 800, 600, 0, 0);
  content.gameBackdropTexture.Load("MarluneContent/img/backdrop_game.png");
  content.gameBackdrop.Initialize(&content.gameBackdropTexture, 0, 0, 800, 600, 0, 0);
  return true;
}

bool Ready(benchmark::State& state) {
  static const bool open = OpenDisplay();
  if (!open) state.SkipWithError(skipReason);
  return open;
}

// One frame of `scene`, finished on the GPU side as the buffer swap would.
void DrawFrame(Scene& scene) {
  glClear(GL_COLOR_BUFFER_BIT);
  scene.Draw();
  DrawVersionNumber();
  glFinish();
}

// Draws frames for the benchmark; frame_pct is the share of the 16 ms frame period.
void DrawFrames(benchmark::State& state, Scene& scene) {
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) DrawFrame(scene);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const double perFrame = elapsed.count() / static_cast<double>(state.iterations());
  state.counters["us_per_frame"] = 1e6 * perFrame;
  state.counters["frame_pct"] = 100.0 * perFrame / 0.016;
}

void BM_GameFrame(benchmark::State& state) {
  if (!Ready(state)) return;
  static const double streamTime = PrepareFullGame(input, benchClock);
  benchClock.time = streamTime;
  input.MoveTo(300, 300);  // over a pad: its row highlight is drawn too
  GameScene scene;
  DrawFrames(state, scene);
}

void BM_MenuFrame(benchmark::State& state) {
  if (!Ready(state)) return;
  SetInputSource(&input);
  MainMenuScene scene;
  DrawFrames(state, scene);
}

}  // namespace

BENCHMARK(BM_GameFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MenuFrame)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
