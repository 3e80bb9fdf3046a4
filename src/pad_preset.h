#pragma once
// The layout of the game screen: the thirteen pads of a new game (the chord change pad, the
// metronome, the record pad and ten wave loop pads), with their sample files and sound
// settings.

#include <string>

// Creates the pads, then appends them to gameState.pads in their fixed order holding the
// pad-list mutex only for the insertion, so the audio callback sees either none or all of them
// and never waits while samples load. Expects an empty list. A sample that cannot be loaded
// ends the program through FatalError ("Couldn't load sound file: <path>"), with the mutex
// free. Main thread only.
void PresetInit();

// As PresetInit, but a sample that cannot be loaded returns false with its path in
// *failedSample, the mutex released and the list as it was (the pads built so far are
// deleted). Main thread only.
bool TryPresetInit(std::string* failedSample);
