#include "pad_preset.h"

// The preset's pads arrive with the instrument pads.
void PresetInit() {}
