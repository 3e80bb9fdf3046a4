// Cost of one frame on the main thread, as the frame loop makes it: the game screen (backdrop,
// all thirteen pads with every step holding a note, the version label) and the main menu.
//   *_Drawn      the whole picture is drawn (as after exposure): the frame is recorded,
//                drawn with legacy OpenGL, copied into the 800 x 600 window and finished
//                (glFinish), as before the swap
//   GameFrame_Playing  the game as it plays: one step later each frame (the play-heads move,
//                the beats flash), so each frame is recorded, compared and drawn where it
//                changed, then copied and finished
//   *_Unchanged  the picture is the one on screen: the frame is recorded and compared only
// "CPU" is the main thread's time; "Time" includes waiting for the driver's render threads.
// Needs a display: run it under scripts/rig.sh; without DISPLAY it skips.

#include <SDL.h>
#include <SDL_opengl.h>
#include <SDL_ttf.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

#include "bench_support.h"
#include "common.h"
#include "content_fonts.h"
#include "frame_recorder.h"
#include "game_scene.h"
#include "game_state.h"
#include "main_menu_scene.h"

namespace {

FakeInput input;
FakeClock benchClock;
SDL_Window* benchWindow = nullptr;
const char* skipReason = nullptr;
FrameRecorder frames;

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
  frames.Attach(benchWindow);
  return true;
}

bool Ready(benchmark::State& state) {
  static const bool open = OpenDisplay();
  if (!open) state.SkipWithError(skipReason);
  return open;
}

// One pass of the frame loop over `scene`; a changed picture is drawn, put on the window and
// finished.
bool Frame(Scene& scene, bool changed) {
  if (changed) frames.Invalidate();
  frames.BeginFrame();
  scene.Draw();
  DrawVersionNumber();
  if (!frames.EndFrame()) return false;
  frames.Show();
  glFinish();
  return true;
}

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Runs frames for the benchmark: us_per_frame is wall time, process_us the CPU time of all
// threads (the driver's render threads included), frame_pct the wall time's share of the
// 16 ms frame period, shown_pct the share of frames drawn, redrawn_pct the share of the
// window a drawn frame redrew. With step > 0 the clock moves on
// by that many seconds before each frame.
void Frames(benchmark::State& state, Scene& scene, bool changed, double step = 0.0) {
  Frame(scene, true);  // the texts are rendered and uploaded on the first frame only
  const long shownBefore = frames.Shown();
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = ProcessCpuSeconds();
  double redrawn = 0.0;
  for (auto _ : state) {
    benchClock.time += step;
    if (Frame(scene, changed)) redrawn += frames.LastRedrawnShare();
  }
  const double cpu = ProcessCpuSeconds() - cpuStart;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const double iterations = static_cast<double>(state.iterations());
  const double perFrame = elapsed.count() / iterations;
  state.counters["us_per_frame"] = 1e6 * perFrame;
  state.counters["process_us"] = 1e6 * cpu / iterations;
  state.counters["frame_pct"] = 100.0 * perFrame / 0.016;
  const double shown = static_cast<double>(frames.Shown() - shownBefore);
  state.counters["shown_pct"] = 100.0 * shown / iterations;
  state.counters["redrawn_pct"] = shown > 0.0 ? 100.0 * redrawn / shown : 0.0;
}

void GameFrame(benchmark::State& state, bool changed, double step = 0.0) {
  if (!Ready(state)) return;
  static const double streamTime = PrepareFullGame(input, benchClock);
  benchClock.time = streamTime;
  input.MoveTo(300, 300);  // over a pad: its row highlight is drawn too
  GameScene scene;
  Frames(state, scene, changed, step);
}

void MenuFrame(benchmark::State& state, bool changed) {
  if (!Ready(state)) return;
  SetInputSource(&input);
  MainMenuScene scene;
  Frames(state, scene, changed);
}

void BM_GameFrame_Drawn(benchmark::State& state) { GameFrame(state, true); }
void BM_GameFrame_Playing(benchmark::State& state) {
  GameFrame(state, false, gameState.loopOptions.StepsToSeconds(1.0));
}
void BM_GameFrame_Unchanged(benchmark::State& state) { GameFrame(state, false); }
void BM_MenuFrame_Drawn(benchmark::State& state) { MenuFrame(state, true); }
void BM_MenuFrame_Unchanged(benchmark::State& state) { MenuFrame(state, false); }

}  // namespace

BENCHMARK(BM_GameFrame_Drawn)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GameFrame_Playing)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GameFrame_Unchanged)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MenuFrame_Drawn)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MenuFrame_Unchanged)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
