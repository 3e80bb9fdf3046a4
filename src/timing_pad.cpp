#include "timing_pad.h"

#include "common.h"
#include "content_fonts.h"
#include "game_state.h"

TimingPad::TimingPad(float x, float y, float w, float h) : SoundlessSoundPad(x, y, w, h) {}

void TimingPad::UpdateCallback(double /*streamTime*/) {}

void TimingPad::Draw() {
  const double t = gameState.clock->StreamTime();
  if (StepChange(t)) {
    RenderText(content.largeFont, SDL_Color{255, 255, 0, 0}, 0.0f, 0.0f, "StepChange");
  }
  if (LateTimingWindow(t)) {
    RenderText(content.largeFont, SDL_Color{255, 0, 0, 0}, 0.0f, 0.0f, "Late");
  }
}
