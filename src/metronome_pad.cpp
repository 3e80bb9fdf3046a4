#include "metronome_pad.h"

#include <SDL_opengl.h>

#include <limits>

#include "common.h"
#include "content_fonts.h"
#include "draw_list.h"
#include "game_state.h"

namespace {
// Moves the reader past its end: finished, silent until the next reset.
void Stop(stk::FileWvIn& reader) { reader.addTime(std::numeric_limits<double>::infinity()); }
}  // namespace

MetronomePad::MetronomePad(float x, float y, float width, float height,
                           const std::string& clickFile)
    : MonoSoundPad(x, y, width, height),
      click_(clickFile, false, true, GameState::kChunkThreshold, GameState::kChunkSize, true) {
  Stop(click_);
}

void MetronomePad::MonoAudioCallback(double* buffer, unsigned int nFrames, double streamTime) {
  if (MouseLeftClickWithin(x, y, width, height)) {
    enabled_.store(!enabled_.load(std::memory_order_relaxed), std::memory_order_relaxed);
    // A click that is sounding stops at once, whichever way the switch went.
    Stop(click_);
    // Lit while the button stays down; a press already released when this buffer takes it
    // lights nothing, as no release is left to come that would clear it.
    pressed_.store(MouseLeftButton(), std::memory_order_relaxed);
  }
  if (MouseLeftUnclick()) pressed_.store(false, std::memory_order_relaxed);

  // The reader follows the beat even while off, so nothing stale plays on switching on.
  if (StepChange(streamTime) &&
      TimeToStep(streamTime) % gameState.loopOptions.stepsPerBeat == 0) {
    click_.reset();
  }

  if (enabled_.load(std::memory_order_relaxed)) {
    for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = click_.tick(0);
  } else {
    for (unsigned int i = 0; i < nFrames; ++i) buffer[i] = 0.0;
  }
}

float MetronomePad::OverlayAlpha(double t) const {
  float alpha = SwitchHighlight(Pressed());
  if (Enabled() && BeatWindow(t)) alpha += kSwitchHighlight;
  return alpha;
}

void MetronomePad::Draw() {
  draw::Frame(x, y, width, height);

  RenderText(content.smallFont, SDL_Color{255, 255, 255, 0}, x - 27.0f + width * 0.5f,
             y + height - 20.0f, "Metronome");
  if (Enabled()) {
    RenderText(content.smallFont, SDL_Color{0, 255, 0, 0}, x - 5.0f + width * 0.5f,
               y + height * 0.5f - 5.0f, "ON");
  } else {
    RenderText(content.smallFont, SDL_Color{64, 64, 64, 0}, x - 8.0f + width * 0.5f,
               y + height * 0.5f - 5.0f, "OFF");
  }

  draw::Highlight(x, y, width, height, OverlayAlpha(gameState.clock->StreamTime()));
}
