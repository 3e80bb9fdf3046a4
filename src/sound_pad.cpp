#include "sound_pad.h"

#include "common.h"

float SoundPad::SwitchHighlight(bool pressed) const {
  float alpha = MouseWithin(x, y, width, height) ? kSwitchHighlight : 0.0f;
  if (pressed) alpha += kSwitchHighlight;
  return alpha;
}
