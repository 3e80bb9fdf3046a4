#include "input_source.h"

#include <SDL_syswm.h>

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
// a press is recorded with its time even if a scene later drains the queue unread.
int WatchEvents(void* /*userData*/, SDL_Event* event) {
  sdlInput.RecordEvent(*event);
  return 0;
}

// The window-system time of an X11 input event, and the SDL button it pressed (0 for none);
// false for an event that carries no time or is not X11's.
bool X11InputTime(const SDL_SysWMmsg* msg, uint32_t* timeMs, uint8_t* pressedButton) {
  if (msg == nullptr || msg->subsystem != SDL_SYSWM_X11) return false;
  const XEvent& x = msg->msg.x11.event;
  *pressedButton = 0;
  switch (x.type) {
    case ButtonPress:
      // X numbers the left, middle and right buttons 1 to 3, as SDL does.
      *timeMs = static_cast<uint32_t>(x.xbutton.time);
      if (x.xbutton.button >= 1 && x.xbutton.button <= 3) *pressedButton = static_cast<uint8_t>(x.xbutton.button);
      return true;
    case ButtonRelease:
      *timeMs = static_cast<uint32_t>(x.xbutton.time);
      return true;
    case MotionNotify:
      *timeMs = static_cast<uint32_t>(x.xmotion.time);
      return true;
    case KeyPress:
    case KeyRelease:
      *timeMs = static_cast<uint32_t>(x.xkey.time);
      return true;
    case EnterNotify:
    case LeaveNotify:
      *timeMs = static_cast<uint32_t>(x.xcrossing.time);
      return true;
    default:
      return false;
  }
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
  if (event.type == SDL_SYSWMEVENT) {
    uint32_t timeMs = 0;
    uint8_t pressed = 0;
    if (X11InputTime(event.syswm.msg, &timeMs, &pressed)) {
      RecordWindowSystemEvent(timeMs, event.syswm.timestamp, pressed);
    } else {
      pendingButton_ = 0;
    }
    return;
  }
  if (event.type != SDL_MOUSEBUTTONDOWN) return;
  PointerPress press;
  if (event.button.button == SDL_BUTTON_LEFT) {
    press.button = SDL_BUTTON_LMASK;
  } else if (event.button.button == SDL_BUTTON_RIGHT) {
    press.button = SDL_BUTTON_RMASK;
  } else {
    return;
  }
  press.timeMs = pendingButton_ == event.button.button ? pendingTimeMs_ : event.button.timestamp;
  pendingButton_ = 0;
  press.x = event.button.x;
  press.y = event.button.y;
  press.shift = ShiftHeld();
  presses_.push(press);
}

void SdlInputSource::RecordWindowSystemEvent(uint32_t eventMs, uint32_t readMs, uint8_t pressedButton) {
  eventClock_.Observe(eventMs, readMs);
  pendingButton_ = pressedButton;
  pendingTimeMs_ = eventClock_.ToPressClock(eventMs, readMs);
}

InputSource& Input() { return *installed.load(std::memory_order_acquire); }

void SetInputSource(InputSource* source) {
  installed.store(source != nullptr ? source : &sdlInput, std::memory_order_release);
}

void RecordPointerPresses() {
  // The scenes drain these with the rest and pass over them.
  SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
  SDL_AddEventWatch(&WatchEvents, nullptr);
}
