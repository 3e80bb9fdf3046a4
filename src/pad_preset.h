#pragma once
// The layout of the game screen: the thirteen pads of a new game.

// Creates the pads and appends them to gameState.pads, holding the pad-list mutex. Expects an
// empty list. A sample that cannot be loaded ends the program through FatalError, after the
// mutex has been released. Main thread only.
void PresetInit();
