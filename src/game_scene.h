#pragma once
// The playing screen: the game backdrop with every pad drawn over it. Escape returns to the
// menu; closing the window ends the program. Main thread only.

#include "scene.h"

class GameScene : public Scene {
 public:
  // Takes every pad out of the list (holding the pad-list mutex only for the swap), deletes
  // them, and stops a running recording (the recorder completes the file on its own thread).
  static void TearDownGame();

  bool InputLogic() override;
  void Draw() override;
  // Ends the game and installs a new main menu; the current game scene is deleted on return.
  static void ReturnToMenu();
};
