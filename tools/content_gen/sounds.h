// The generated sounds. Each function returns a finished buffer: levels with headroom,
// no DC offset, starts and ends without clicks (one-shots fade to exactly zero).
#pragma once

#include "synth.h"

namespace content {

// Frames in one cycle of the single-cycle instrument waves.
constexpr int kCycleFrames = 128;

// One cycle of a zero-mean pulse wave, high for `dutySixteenths` of sixteen parts (mono).
Audio MakePulseCycle(int dutySixteenths);
// One cycle of a 32-step, 4-bit stepped triangle, centred on zero (mono).
Audio MakeSteppedTriangleCycle();
// Drum-machine one-shots (mono), each with its attack at frame 0.
Audio MakeKick();
Audio MakeSnare();
Audio MakeClosedHat();
Audio MakeOpenHat();
// Bright woodblock-like metronome click (mono).
Audio MakeMetronomeClick();

// Interface sound effects (stereo).
Audio MakeLoadedChime();
Audio MakeStartArpeggio();
Audio MakeStopArpeggio();
Audio MakeQuitFarewell();
Audio MakeSelectBlip();

// Seamlessly looping menu music (stereo).
Audio MakeMenuTheme();
// Length of the menu theme loop in frames.
int MenuThemeFrames();

}  // namespace content
