#include "record_pad.h"

#include <SDL_opengl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "FileWvOut.h"
#include "audio_probe.h"
#include "common.h"
#include "content_fonts.h"
#include "game_state.h"

namespace {
constexpr float kHighlightStep = 0.15f;

// Path of the open recording, kept for the header repair on closing. Under gameState.mutex.
char openRecording[4096] = "";

// The RIFF chunk size is the file size less the 8 bytes of the chunk's own id and size field.
void RepairRiffSize(const char* path) {
  std::FILE* file = std::fopen(path, "r+b");
  if (file == nullptr) return;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    if (size >= 44) {
      const uint32_t riff = static_cast<uint32_t>(size - 8);
      const unsigned char bytes[4] = {static_cast<unsigned char>(riff),
                                      static_cast<unsigned char>(riff >> 8),
                                      static_cast<unsigned char>(riff >> 16),
                                      static_cast<unsigned char>(riff >> 24)};
      if (std::fseek(file, 4, SEEK_SET) == 0) std::fwrite(bytes, 1, sizeof bytes, file);
    }
  }
  std::fclose(file);
}

std::string& Folder() {
  static std::string folder = "../../../";
  return folder;
}

// The directory a path prefix lies in: everything up to its last '/', or "." without one.
std::string DirectoryOf(const std::string& prefix) {
  const size_t slash = prefix.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return prefix.substr(0, slash);
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
    // Creating and completing the file are the file I/O (and allocations) the design accepts
    // on the audio thread.
    if (gameState.recording.load()) {
      // The mixer writes under the mutex the caller holds, so no write is in flight.
      audio_probe::Exemption exempt(audio_probe::Allowed::kRecorderClose);
      CloseRecording();
    } else {
      audio_probe::Exemption exempt(audio_probe::Allowed::kRecorderOpen);
      StartRecording();
    }
    pressed_.store(true, std::memory_order_relaxed);
  }
  if (MouseLeftUnclick()) pressed_.store(false, std::memory_order_relaxed);
}

void RecordPad::StartRecording() {
  failed_.store(false, std::memory_order_relaxed);
  const std::string name = RecordFilename();
  // Checked first so that the usual failure, a folder that cannot be written, needs no error
  // from the audio library (which prints it).
  if (access(DirectoryOf(name).c_str(), W_OK) != 0) {
    failed_.store(true, std::memory_order_relaxed);
    return;
  }
  try {
    gameState.recorder.openFile(name, 2, stk::FileWrite::FILE_WAV, stk::Stk::STK_SINT16);
  } catch (stk::StkError&) {
    failed_.store(true, std::memory_order_relaxed);
    return;
  }
  // A path too long to keep only misses the header repair.
  if (name.size() < sizeof openRecording) {
    std::snprintf(openRecording, sizeof openRecording, "%s", name.c_str());
  } else {
    openRecording[0] = '\0';
  }
  // Only an open file may receive the mix.
  gameState.recording.store(true);
}

void RecordPad::CloseRecording() {
  if (!gameState.recording.load()) return;
  gameState.recording.store(false);
  gameState.recorder.closeFile();
  if (openRecording[0] != '\0') RepairRiffSize(openRecording);
  openRecording[0] = '\0';
}

float RecordPad::OverlayAlpha() const {
  float alpha = MouseWithin(x, y, width, height) ? kHighlightStep : 0.0f;
  if (Pressed()) alpha += kHighlightStep;
  return alpha;
}

void RecordPad::Draw() {
  DrawFrame(x, y, width, height);

  RenderText(content.smallFont, SDL_Color{255, 255, 255, 0}, x + width * 0.5f - 27.0f,
             y + height - 20.0f, "Recording");
  if (gameState.recording.load()) {
    RenderText(content.smallFont, SDL_Color{255, 0, 0, 0}, x + width * 0.5f - 5.0f,
               y + height * 0.5f - 5.0f, "ON");
  } else if (Failed()) {
    RenderText(content.smallFont, SDL_Color{255, 0, 0, 0}, x + width * 0.5f - 8.0f,
               y + height * 0.5f - 5.0f, "ERR");
  } else {
    RenderText(content.smallFont, SDL_Color{64, 64, 64, 0}, x + width * 0.5f - 8.0f,
               y + height * 0.5f - 5.0f, "OFF");
  }

  DrawHighlight(x, y, width, height, OverlayAlpha());
}
