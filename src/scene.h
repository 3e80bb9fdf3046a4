#pragma once
// A screen of the program. Main thread only.

class Scene {
 public:
  virtual ~Scene() = default;
  // Handles all pending events; false ends the program.
  virtual bool InputLogic() = 0;
  // Draws the scene.
  virtual void Draw() = 0;
};
