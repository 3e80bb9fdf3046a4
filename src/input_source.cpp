#include "input_source.h"

#include <SDL.h>

#include <atomic>

namespace {
SdlInputSource sdlInput;
std::atomic<InputSource*> installed{&sdlInput};
}  // namespace

uint32_t SdlInputSource::MouseState(int* x, int* y) const {
  return SDL_GetMouseState(x, y);
}

bool SdlInputSource::ShiftHeld() const {
  const Uint8* keys = SDL_GetKeyboardState(nullptr);
  return keys[SDL_SCANCODE_LSHIFT] || keys[SDL_SCANCODE_RSHIFT];
}

InputSource& Input() { return *installed.load(std::memory_order_acquire); }

void SetInputSource(InputSource* source) {
  installed.store(source != nullptr ? source : &sdlInput, std::memory_order_release);
}
