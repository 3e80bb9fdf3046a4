// marlune_pads RESOURCES_DIR - prints the game screen's pads as the program lays them out, one
// line per pad in the preset's order: "X Y W H NAME" (lower-left corner and size in program
// coordinates, y up). The wave loop pads print their own names; the other three "Chord",
// "Metronome" and "Record". The end-to-end tests click on these rectangles, so a moved pad
// moves every click with it.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "game_state.h"
#include "pad_preset.h"
#include "sound_pad.h"
#include "wave_loop_pad.h"

int main(int argc, char** argv) {
  std::string failed;
  if (argc != 2 || chdir(argv[1]) != 0 || !TryPresetInit(&failed)) {
    std::fprintf(stderr, "usage: marlune_pads RESOURCES_DIR (the samples must load) %s\n", failed.c_str());
    return 1;
  }
  const char* const others[] = {"Chord", "Metronome", "Record"};
  for (size_t i = 0; i < gameState.pads.size(); ++i) {
    const SoundPad* pad = gameState.pads[i];
    const auto* wave = dynamic_cast<const WaveLoopPad*>(pad);
    std::printf("%g %g %g %g %s\n", pad->x, pad->y, pad->width, pad->height,
                wave ? wave->Name().c_str() : i < 3 ? others[i] : "?");
  }
  return 0;
}
