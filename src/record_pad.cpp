#include "record_pad.h"

#include <SDL_opengl.h>

#include "common.h"
#include "content_fonts.h"
#include "draw_list.h"
#include "game_state.h"

RecordPad::RecordPad(float x, float y, float w, float h) : SoundlessSoundPad(x, y, w, h) {}

void RecordPad::UpdateCallback(double /*streamTime*/) {
  if (MouseLeftClickWithin(x, y, width, height)) {
    // Only posts the start or the stop: the writer thread does the file work.
    if (gameState.recorder.Capturing()) {
      gameState.recorder.StopCapture();
    } else {
      gameState.recorder.StartCapture();
    }
    // Lit while the button stays down; a press already released when this buffer takes it
    // lights nothing, as no release is left to come that would clear it.
    pressed_.store(MouseLeftButton(), std::memory_order_relaxed);
  }
  if (MouseLeftUnclick()) pressed_.store(false, std::memory_order_relaxed);
}

bool RecordPad::Failed() { return gameState.recorder.Failed(); }

float RecordPad::OverlayAlpha() const { return SwitchHighlight(Pressed()); }

void RecordPad::Draw() {
  draw::Frame(x, y, width, height);

  RenderText(content.smallFont, SDL_Color{255, 255, 255, 0}, x + width * 0.5f - 27.0f,
             y + height - 20.0f, "Recording");
  if (gameState.recorder.Recording()) {
    RenderText(content.smallFont, SDL_Color{255, 0, 0, 0}, x + width * 0.5f - 5.0f,
               y + height * 0.5f - 5.0f, "ON");
  } else if (Failed()) {
    RenderText(content.smallFont, SDL_Color{255, 0, 0, 0}, x + width * 0.5f - 8.0f,
               y + height * 0.5f - 5.0f, "ERR");
  } else {
    RenderText(content.smallFont, SDL_Color{64, 64, 64, 0}, x + width * 0.5f - 8.0f,
               y + height * 0.5f - 5.0f, "OFF");
  }

  draw::Highlight(x, y, width, height, OverlayAlpha());
}
