#pragma once
// The main menu: "Start", "Buffer Size: N" and "Quit" over the menu backdrop, moved through
// with Up and Down, chosen with Return. Main thread only.

#include "scene.h"

class MainMenuScene : public Scene {
 public:
  // Buffer sizes, frames, that the buffer-size entry cycles through.
  static unsigned int NextBufferSize(unsigned int current);

  MainMenuScene() = default;
  bool InputLogic() override;
  void Draw() override;
  // Leaves the menu for a new game; this object is deleted on return.
  void StartGame();
  // Reopens the audio stream with the next buffer size.
  void ChangeBufferSize();

  int selection = 0;  // highlighted entry: 0 Start, 1 Buffer Size, 2 Quit
};
