#include "pad_preset.h"

#include <SDL.h>

#include <vector>

#include "Stk.h"
#include "chord_change_pad.h"
#include "common.h"
#include "game_state.h"
#include "metronome_pad.h"
#include "record_pad.h"
#include "wave_loop_pad.h"

namespace {

// One wave loop pad of the screen: layout, pattern strip and sound.
struct WaveLoopSetting {
  const char* name;
  float x, y, w, h;
  int rows;
  float sequencerHeight;
  const char* sampleFile;
  double pitchMultiplier;
  bool oneShot;
  double decayTime;     // seconds
  double sustainLevel;  // 0 to 1
  bool releaseOnStep;
  double echoFeedback;  // gain
  double echoSteps;     // loop steps
};

constexpr double kMinVelocity = 0.25;
constexpr double kAttackTime = 0.000001;  // seconds

// Melodic pads in two rows of three, the drums in a column on the right.
const WaveLoopSetting kWaveLoopPads[] = {
    {"Blip 1", 25, 250, 150, 120, 8, 30, "MarluneContent/sfx/lsdj_pulse_50.wav", 0.5, false,
     0.05, 0.0, false, 0.25, 3.0},
    {"Blip 2", 225, 250, 150, 120, 8, 30, "MarluneContent/sfx/lsdj_pulse_12_5.wav", 0.5, false,
     0.05, 0.0, false, 0.25, 3.0},
    {"Lead 1", 425, 250, 150, 120, 8, 30, "MarluneContent/sfx/lsdj_pulse_50.wav", 0.5, false,
     0.5, 0.5, true, 0.25, 3.0},
    {"Bass 1", 25, 50, 150, 120, 8, 30, "MarluneContent/sfx/famitracker_triangle.wav", 0.125,
     false, 0.000001, 1.0, true, 0.0, 1.0},
    {"Bass 2", 225, 50, 150, 120, 8, 30, "MarluneContent/sfx/lsdj_pulse_25.wav", 0.125, false,
     0.05, 0.0, false, 0.0, 1.0},
    {"Lead 2", 425, 50, 150, 120, 12, 30, "MarluneContent/sfx/lsdj_pulse_25.wav", 0.5, false,
     0.5, 0.0, false, 0.4, 4.0},
    {"Kick", 625, 310, 150, 60, 8, 15, "MarluneContent/sfx/tr909_01.wav", 1.0, true, 0.000001,
     1.0, false, 0.0, 1.0},
    {"Snare", 625, 219, 150, 60, 8, 15, "MarluneContent/sfx/tr909_05.wav", 1.0, true, 0.000001,
     1.0, false, 0.0, 1.0},
    {"Closed Hat", 625, 127, 150, 60, 8, 15, "MarluneContent/sfx/tr909_07.wav", 1.0, true,
     0.000001, 1.0, false, 0.0, 1.0},
    {"Open Hat", 625, 35, 150, 60, 8, 15, "MarluneContent/sfx/tr909_08.wav", 1.0, true, 0.000001,
     1.0, false, 0.0, 1.0},
};

// Holds the pad-list mutex for its lifetime.
class PadListLock {
 public:
  PadListLock() { SDL_LockMutex(gameState.mutex); }
  ~PadListLock() { SDL_UnlockMutex(gameState.mutex); }
  PadListLock(const PadListLock&) = delete;
  PadListLock& operator=(const PadListLock&) = delete;
};

// Builds every pad in order into pads; false with the failing sample's path otherwise.
bool BuildPads(std::vector<SoundPad*>& pads, std::string* failedSample) {
  const char* sample = "";
  try {
    pads.push_back(new ChordChangePad(400, 400, 400, 200, 4));
    sample = MetronomePad::kClickFile;
    pads.push_back(new MetronomePad(50, 500, 100, 75));
    pads.push_back(new RecordPad(50, 410, 100, 75));
    for (const WaveLoopSetting& s : kWaveLoopPads) {
      sample = s.sampleFile;
      pads.push_back(new WaveLoopPad(s.x, s.y, s.w, s.h, s.rows, kMinVelocity,
                                     s.pitchMultiplier, s.sampleFile, s.echoFeedback,
                                     s.echoSteps, s.oneShot, s.name, kAttackTime, s.decayTime,
                                     s.sustainLevel, s.sequencerHeight, s.releaseOnStep));
    }
  } catch (stk::StkError&) {
    *failedSample = sample;
    return false;
  }
  return true;
}

}  // namespace

bool TryPresetInit(std::string* failedSample) {
  // Built (files opened, echo buffers allocated) before the lock, so the callback never waits
  // for it; appended under the lock in one step, so it sees either none of the pads or all.
  std::vector<SoundPad*> built;
  built.reserve(13);
  bool complete = false;
  try {
    complete = BuildPads(built, failedSample);
    if (complete) {
      // The list is only changed on this thread, so it can be read here without the lock.
      std::vector<SoundPad*> next(gameState.pads);
      next.insert(next.end(), built.begin(), built.end());
      {
        PadListLock lock;
        gameState.pads.swap(next);
      }
      built.clear();  // owned by the list now
    }
  } catch (...) {
    for (SoundPad* pad : built) delete pad;
    throw;
  }
  if (!complete) {
    for (SoundPad* pad : built) delete pad;
  }
  return complete;
}

void PresetInit() {
  std::string failedSample;
  if (!TryPresetInit(&failedSample)) FatalError("Couldn't load sound file: " + failedSample);
}
