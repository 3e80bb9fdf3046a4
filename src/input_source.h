#pragma once
// The narrow seam through which the program reads the pointer and the Shift keys.
// The shipping program reads SDL's state; tests install a scripted source.

#include <cstdint>

class InputSource {
 public:
  virtual ~InputSource() = default;
  // Button mask in SDL's layout (1 left, 2 middle, 4 right); x and y in window pixels,
  // y counted down from the top edge. Safe from any thread.
  virtual uint32_t MouseState(int* x, int* y) const = 0;
  // True while either Shift key is held. Safe from any thread.
  virtual bool ShiftHeld() const = 0;
};

// Reads SDL_GetMouseState and SDL_GetKeyboardState; the main thread's event polling keeps
// them current.
class SdlInputSource : public InputSource {
 public:
  uint32_t MouseState(int* x, int* y) const override;
  bool ShiftHeld() const override;
};

// The source every mouse helper reads. Safe from any thread.
InputSource& Input();
// Installs a source (nullptr restores SDL's). Main thread, while no audio stream runs.
void SetInputSource(InputSource* source);
