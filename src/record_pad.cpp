#include "record_pad.h"

#include <SDL_opengl.h>

#include <cstdio>

#include "common.h"
#include "content_fonts.h"
#include "draw_list.h"
#include "game_state.h"

namespace {
// Never destroyed: the recorder's writer thread may still name a file while the process exits.
std::string& Folder() {
  static std::string* folder = new std::string("../../../");
  return *folder;
}

}  // namespace

RecordPad::RecordPad(float x, float y, float w, float h) : SoundlessSoundPad(x, y, w, h) {}

void RecordPad::SetRecordingFolder(const std::string& folder) { Folder() = folder; }

const std::string& RecordPad::RecordingFolder() { return Folder(); }

std::string RecordPad::RecordFilename() { return RecordFilename(Folder(), std::time(nullptr)); }

std::string RecordPad::RecordFilename(const std::string& folder, std::time_t now) {
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d_%H-%M", &local);
  const std::string prefix = folder + stamp;
  std::string candidate = prefix;
  unsigned int counter = 2;
  while (FileExists(candidate + ".wav")) {
    char number[64];
    std::snprintf(number, sizeof number, "%u", counter);
    candidate = prefix + "_" + number;
    ++counter;
  }
  return candidate + ".wav";
}

void RecordPad::UpdateCallback(double /*streamTime*/) {
  if (MouseLeftClickWithin(x, y, width, height)) {
    // Only posts the start or the stop: the writer thread does the file work.
    if (gameState.recorder.Capturing()) {
      gameState.recorder.StopCapture();
    } else {
      gameState.recorder.StartCapture();
    }
    pressed_.store(true, std::memory_order_relaxed);
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
