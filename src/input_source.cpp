#include "input_source.h"

#include <atomic>
#include <new>

namespace {
// Never destroyed: the audio callback reads it until the process ends, and an exit that runs
// the exit-time destructors (a fatal error) may come while the stream still plays. Built in
// storage of its own at start-up, so no thread ever allocates it.
alignas(SdlInputSource) unsigned char sdlInputStorage[sizeof(SdlInputSource)];
SdlInputSource& sdlInput = *new (sdlInputStorage) SdlInputSource();
std::atomic<InputSource*> installed{&sdlInput};

// Called by SDL on the thread that pumps events (the main thread) as each event is queued, so
// a press is recorded with SDL's timestamp even if a scene later drains the queue unread.
int WatchEvents(void* /*userData*/, SDL_Event* event) {
  sdlInput.RecordEvent(*event);
  return 0;
}
}  // namespace

uint32_t SdlInputSource::MouseState(int* x, int* y) const {
  return SDL_GetMouseState(x, y);
}

bool SdlInputSource::ShiftHeld() const {
  const Uint8* keys = SDL_GetKeyboardState(nullptr);
  return keys[SDL_SCANCODE_LSHIFT] || keys[SDL_SCANCODE_RSHIFT];
}

bool SdlInputSource::PopPress(PointerPress* press) { return presses_.pop(*press); }

uint32_t SdlInputSource::TicksMs() const { return SDL_GetTicks(); }

void SdlInputSource::RecordEvent(const SDL_Event& event) {
  if (event.type != SDL_MOUSEBUTTONDOWN) return;
  PointerPress press;
  if (event.button.button == SDL_BUTTON_LEFT) {
    press.button = SDL_BUTTON_LMASK;
  } else if (event.button.button == SDL_BUTTON_RIGHT) {
    press.button = SDL_BUTTON_RMASK;
  } else {
    return;
  }
  press.timeMs = event.button.timestamp;
  press.x = event.button.x;
  press.y = event.button.y;
  press.shift = ShiftHeld();
  presses_.push(press);
}

InputSource& Input() { return *installed.load(std::memory_order_acquire); }

void SetInputSource(InputSource* source) {
  installed.store(source != nullptr ? source : &sdlInput, std::memory_order_release);
}

void RecordPointerPresses() { SDL_AddEventWatch(&WatchEvents, nullptr); }
