#pragma once
// The narrow seam through which the program reads the pointer, the Shift keys and the button
// presses the main thread has recorded. The shipping program reads SDL's state and records
// SDL's button-down events; tests install a scripted source.

#include <cstdint>

#include <SDL.h>

#include <boost/lockfree/spsc_queue.hpp>

#include "event_clock.h"

// One button press as the main thread saw it, handed to the audio thread.
struct PointerPress {
  uint32_t timeMs = 0;  // when it happened, on the clock of InputSource::TicksMs, ms
  int x = 0;            // window pixels from the left edge
  int y = 0;            // window pixels, SDL's: counted down from the top edge
  uint32_t button = 0;  // SDL button mask bit: 1 left, 4 right
  bool shift = false;   // either Shift key held at the press
};

class InputSource {
 public:
  virtual ~InputSource() = default;
  // Button mask in SDL's layout (1 left, 2 middle, 4 right); x and y in window pixels,
  // y counted down from the top edge. Safe from any thread.
  virtual uint32_t MouseState(int* x, int* y) const = 0;
  // True while either Shift key is held. Safe from any thread.
  virtual bool ShiftHeld() const = 0;
  // Takes the oldest recorded press not yet taken into *press; false when none waits.
  // Audio thread only (the one consumer).
  virtual bool PopPress(PointerPress* press) = 0;
  // Milliseconds now, on the clock that stamps presses. Safe from any thread.
  virtual uint32_t TicksMs() const = 0;
};

// Reads SDL_GetMouseState and SDL_GetKeyboardState, which the main thread's event pumping
// keeps current, and keeps the button presses that RecordEvent saw in a lock-free queue of
// fixed capacity (a press that finds it full is dropped; the audio thread empties it every
// buffer). A press is stamped with the time the window system gave it where SDL hands that
// over (X11), mapped onto the press clock (EventClock), else with the time SDL read it.
class SdlInputSource : public InputSource {
 public:
  uint32_t MouseState(int* x, int* y) const override;
  bool ShiftHeld() const override;
  bool PopPress(PointerPress* press) override;
  uint32_t TicksMs() const override;
  // Records a left or right button-down event with its timestamp and position; an X11
  // window-system event (SDL_SYSWMEVENT) goes to RecordWindowSystemEvent. Main thread only
  // (the one producer).
  void RecordEvent(const SDL_Event& event);
  // An input event the window system stamped eventMs (its clock) was read at readMs (the
  // press clock); pressedButton is SDL's number of the button it pressed (SDL_BUTTON_LEFT ...),
  // 0 when it pressed none. SDL's button-down event for that press follows at once and takes
  // the window system's time. Main thread only.
  void RecordWindowSystemEvent(uint32_t eventMs, uint32_t readMs, uint8_t pressedButton);

 private:
  boost::lockfree::spsc_queue<PointerPress, boost::lockfree::capacity<64>> presses_;
  EventClock eventClock_;
  uint8_t pendingButton_ = 0;   // the button the last window-system event pressed, 0 for none
  uint32_t pendingTimeMs_ = 0;  // when it was pressed, on the press clock
};

// The source every mouse helper reads. Safe from any thread.
InputSource& Input();
// Installs a source (nullptr restores SDL's). Main thread, while no audio stream runs.
void SetInputSource(InputSource* source);
// Makes SDL's event pumping record every button press for the audio thread, whichever scene
// later polls the event, and hand over the X11 events behind them (SDL_SYSWMEVENT, which the
// scenes pass over). Main thread, once, after SDL_Init.
void RecordPointerPresses();
