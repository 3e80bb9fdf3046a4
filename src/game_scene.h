#pragma once
// The playing screen: the game backdrop with every pad drawn over it. Escape returns to the
// menu; closing the window ends the program. Main thread only.

#include "scene.h"

class GameScene : public Scene {
 public:
  // Deletes every pad (under the pad-list mutex) and closes a running recording.
  static void TearDownGame();

  bool InputLogic() override;
  void Draw() override;
  // Ends the game and installs a new main menu; the current game scene is deleted on return.
  static void ReturnToMenu();
};
