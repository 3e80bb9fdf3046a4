#pragma once
// The game screen the benchmarks measure: the thirteen pads of a new game with every step of
// every pad holding a note, driven through the unit tests' fakes (tests/test_support.h).

#include "test_support.h"

// Changes to the program's resource folder, where the generated content is; false if missing.
bool EnterResourceFolder();

// Installs input and clock, loads the menu's sounds as start-up does (without opening a
// stream), builds the thirteen pads of a new game, switches the metronome on and holds the
// left button on every wave loop pad for a loop, so every step of every pad holds a note (rows
// and velocities differ per pad). Runs the mixer for that, in 512-frame buffers, and returns
// the stream time reached, seconds.
double PrepareFullGame(FakeInput& input, FakeClock& clock);
