// The game screen's preset: thirteen pads in a fixed order, a fresh set for every game, and a
// sample that cannot be loaded ending the program without leaving the pad-list mutex held.

#include <unistd.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "chord_change_pad.h"
#include "common.h"
#include "game_scene.h"
#include "game_state.h"
#include "metronome_pad.h"
#include "pad_preset.h"
#include "record_pad.h"
#include "test_support.h"
#include "wave_loop_pad.h"

namespace {

const char* const kSamples[] = {
    "MarluneContent/sfx/metronome.wav",      "MarluneContent/sfx/lsdj_pulse_50.wav",
    "MarluneContent/sfx/lsdj_pulse_12_5.wav", "MarluneContent/sfx/lsdj_pulse_25.wav",
    "MarluneContent/sfx/famitracker_triangle.wav", "MarluneContent/sfx/tr909_01.wav",
    "MarluneContent/sfx/tr909_05.wav",       "MarluneContent/sfx/tr909_07.wav",
    "MarluneContent/sfx/tr909_08.wav",
};

// A folder holding short stand-ins for every sample but `except`.
std::string StandInContent(const std::string& except = "") {
  const std::string dir = MakeTempDir();
  EXPECT_EQ(system(("mkdir -p " + dir + "/MarluneContent/sfx").c_str()), 0);
  std::vector<double> tone(2205);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = 0.5 * std::sin(i * 0.0628);
  for (const char* sample : kSamples) {
    if (except != sample) WriteTestWav(dir + "/" + sample, tone, 1);
  }
  return dir;
}

// True when another thread can take the pad-list mutex (it is recursive for its holder).
bool MutexFreeForTheAudioThread() {
  bool free = false;
  std::thread audio([&free] {
    if (SDL_TryLockMutex(gameState.mutex) == 0) {
      free = true;
      SDL_UnlockMutex(gameState.mutex);
    }
  });
  audio.join();
  return free;
}

struct Rect {
  float x, y, w, h;
};

class PresetTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_NE(getcwd(previous_, sizeof previous_), nullptr);
    bool generated = true;
    for (const char* sample : kSamples) generated = generated && FileExists(sample);
    if (!generated) GoTo(StandInContent());  // the content generator has not run here
  }
  void TearDown() override {
    EngineTest::TearDown();
    EXPECT_EQ(chdir(previous_), 0);
  }
  void GoTo(const std::string& dir) { ASSERT_EQ(chdir(dir.c_str()), 0); }

  char previous_[4096];
};

TEST_F(PresetTest, ThirteenPadsInTheOrderOfTheLayout) {
  PresetInit();
  ASSERT_EQ(gameState.pads.size(), 13u);
  EXPECT_TRUE(MutexFreeForTheAudioThread());

  EXPECT_NE(dynamic_cast<ChordChangePad*>(gameState.pads[0]), nullptr);
  EXPECT_EQ(dynamic_cast<ChordChangePad*>(gameState.pads[0])->Count(), 4);
  EXPECT_NE(dynamic_cast<MetronomePad*>(gameState.pads[1]), nullptr);
  EXPECT_NE(dynamic_cast<RecordPad*>(gameState.pads[2]), nullptr);

  const Rect rects[13] = {{400, 400, 400, 200}, {50, 500, 100, 75},  {50, 410, 100, 75},
                          {25, 250, 150, 120},  {225, 250, 150, 120}, {425, 250, 150, 120},
                          {25, 50, 150, 120},   {225, 50, 150, 120},  {425, 50, 150, 120},
                          {625, 310, 150, 60},  {625, 219, 150, 60},  {625, 127, 150, 60},
                          {625, 35, 150, 60}};
  for (int i = 0; i < 13; ++i) {
    const SoundPad* pad = gameState.pads[i];
    EXPECT_EQ(pad->x, rects[i].x) << "pad " << i;
    EXPECT_EQ(pad->y, rects[i].y) << "pad " << i;
    EXPECT_EQ(pad->width, rects[i].w) << "pad " << i;
    EXPECT_EQ(pad->height, rects[i].h) << "pad " << i;
  }

  const char* names[10] = {"Blip 1", "Blip 2", "Lead 1",  "Bass 1",     "Bass 2",
                           "Lead 2", "Kick",   "Snare",   "Closed Hat", "Open Hat"};
  const int rows[10] = {8, 8, 8, 8, 8, 12, 1, 1, 1, 1};  // one-shot drums draw one row
  for (int i = 0; i < 10; ++i) {
    const WaveLoopPad* pad = dynamic_cast<const WaveLoopPad*>(gameState.pads[3 + i]);
    ASSERT_NE(pad, nullptr) << "pad " << 3 + i;
    EXPECT_EQ(pad->Name(), names[i]);
    EXPECT_EQ(pad->Rows(), rows[i]) << names[i];
    EXPECT_EQ(pad->OneShot(), i >= 6) << names[i];
  }
}

TEST_F(PresetTest, EveryGameStartsWithFreshPads) {
  PresetInit();
  const WaveLoopPad* kick = dynamic_cast<const WaveLoopPad*>(gameState.pads[9]);
  ASSERT_NE(kick, nullptr);
  RunBuffer(0.0, 0);  // the late window exists from the first buffer on
  input.MoveTo(700, 340);
  input.buttons = 1;
  RunBuffer(0.001);
  input.buttons = 0;
  RunBuffer(0.0126);
  ASSERT_TRUE(kick->Sequencer().IsActive(0)) << "a note on the kick in the first game";

  GameScene::TearDownGame();
  EXPECT_TRUE(gameState.pads.empty());
  PresetInit();
  ASSERT_EQ(gameState.pads.size(), 13u);
  for (int i = 3; i < 13; ++i) {
    const WaveLoopPad* pad = dynamic_cast<const WaveLoopPad*>(gameState.pads[i]);
    ASSERT_NE(pad, nullptr);
    for (unsigned int step = 0; step < 16; ++step) {
      EXPECT_FALSE(pad->Sequencer().IsActive(step)) << pad->Name() << " step " << step;
    }
  }
  EXPECT_FALSE(dynamic_cast<MetronomePad*>(gameState.pads[1])->Enabled());
  const std::vector<double> loop = RunSeconds(2.0, 2.0);
  EXPECT_LT(Peak(loop), 1e-9) << "a new game is silent until the player clicks";
}

TEST_F(PresetTest, MissingSampleReleasesTheMutexAndLeavesTheListAsItWas) {
  std::string failed;
  GoTo(StandInContent("MarluneContent/sfx/tr909_08.wav"));
  EXPECT_FALSE(TryPresetInit(&failed));
  EXPECT_EQ(failed, "MarluneContent/sfx/tr909_08.wav");
  EXPECT_TRUE(gameState.pads.empty());
  EXPECT_TRUE(MutexFreeForTheAudioThread());

  GoTo(MakeTempDir());
  EXPECT_FALSE(TryPresetInit(&failed));
  EXPECT_EQ(failed, "MarluneContent/sfx/metronome.wav");
  EXPECT_TRUE(gameState.pads.empty());
  EXPECT_TRUE(MutexFreeForTheAudioThread());
  RunBuffer(0.0);  // the mixer is not blocked
}

using PresetDeathTest = PresetTest;

TEST_F(PresetDeathTest, MissingSampleEndsTheProgramNamingTheFile) {
  const std::string empty = MakeTempDir();
  EXPECT_EXIT(
      {
        if (chdir(empty.c_str()) == 0) PresetInit();
      },
      ::testing::ExitedWithCode(1),
      "Error:Couldn't load sound file: MarluneContent/sfx/metronome\\.wav");

  const std::string noSnare = StandInContent("MarluneContent/sfx/tr909_05.wav");
  EXPECT_EXIT(
      {
        if (chdir(noSnare.c_str()) == 0) PresetInit();
      },
      ::testing::ExitedWithCode(1),
      "Error:Couldn't load sound file: MarluneContent/sfx/tr909_05\\.wav");
}

}  // namespace
