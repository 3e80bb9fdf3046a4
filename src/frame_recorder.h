#pragma once
// Draws a frame only when its picture differs from the one on screen.
//
// Each frame of the loop is recorded (draw_list.h) instead of drawn: between BeginFrame and
// EndFrame the scene and the version label make their `draw` calls into a fresh list.
// EndFrame compares that list with the list of the frame last shown; only when they differ,
// or when the window has lost its picture (Invalidate, on exposure), is the frame drawn and
// put on the window (Show). Because the list is the drawing itself, whatever a scene or pad
// draws differently (selection, pointer highlight, step, beat flash, notes, chords, switches,
// labels) makes the lists differ; no part of the program has to announce a change.
//
// A frame that differs is drawn in the changed places only: the pieces of the two lists
// (DrawList::Analyse) are paired, and the rectangles of the pieces without a partner are
// cleared and redrawn, each on its own, over the picture kept from the frame before. Where
// that picture is kept depends on what the OpenGL implementation offers (Attach):
//   - in the window's back buffer, which is then never swapped: the changed rectangles are
//     copied to the window (sub_buffer_copy.h);
//   - else off screen (picture_buffer.h), copied whole into the back buffer, then swapped;
//   - else nowhere: every frame shown is drawn in full and swapped.
// ForceKeeper limits the choice to one of the three (the program does so when started with
// MARLUNE_PICTURE_KEEPER=back-buffer, off-screen or none in its environment), so the end-to-end
// tests prove each way on the one machine; where the forced way is not offered, nothing keeps
// the picture.
// The whole frame is drawn on the first frame, after Invalidate, when a list cannot be
// analysed and when the changes cover most of the window. A list that differs without any
// pixel differing becomes the frame on screen without drawing.
//
// Frame check (EnableCheck; the program turns it on when started with MARLUNE_FRAME_CHECK=1 in
// its environment, as the end-to-end tests do): every frame is also drawn in full the direct
// way, as the calls are recorded (into the back buffer, or off screen where the back buffer
// keeps the picture). On a frame EndFrame would skip, these pixels are compared with those of
// the frame on screen; on a frame that is shown, the picture as redrawn (in places or in full)
// is compared with the direct one. PrintCheck reports both counts; any differing frame is a
// fault. It is a switch, not a build, so the program a player runs and the one the tests run
// are the same binary.
//
// Main thread only, with the OpenGL context current.

#include <cstdint>
#include <cstdio>
#include <vector>

#include <SDL.h>

#include "draw_list.h"
#include "picture_buffer.h"
#include "sub_buffer_copy.h"

class FrameRecorder {
 public:
  // Where the picture on screen is kept between frames.
  enum class Keeper { kNone, kBackBuffer, kPicture };
  // The keeper called name ("back-buffer", "off-screen", "none"); false for another name.
  static bool KeeperNamed(const char* name, Keeper* keeper);
  static const char* KeeperName(Keeper keeper);

  // Attach chooses only keeper, or none where keeper is not offered; before Attach.
  void ForceKeeper(Keeper keeper) {
    forced_ = true;
    keeper_ = keeper;
  }
  // Shows the frames in window, whose OpenGL context is current; after EnableCheck, before
  // the first frame.
  void Attach(SDL_Window* window);
  // Starts recording the next frame.
  void BeginFrame();
  // Stops recording; true when the frame must be shown (its list differs from the one on
  // screen, or Invalidate was called since the last shown frame).
  bool EndFrame();
  // Draws the recorded frame, in the changed places or in full, puts it on the window and
  // keeps it as the frame on screen.
  void Show();
  // The window's picture was lost (exposed, shown, resized): the next frame is shown.
  void Invalidate() { invalid_ = true; }
  // Turns the frame check on; before the first frame.
  void EnableCheck() { check_ = true; }
  // Frames recorded and frames shown so far.
  long Recorded() const { return recorded_; }
  long Shown() const { return shown_; }
  // Share of the window (0 to 1) the last shown frame redrew.
  double LastRedrawnShare() const { return lastShare_; }
  // Deletes the picture kept off screen. Main thread, while the OpenGL context exists.
  void Release() { picture_.Release(); }
  // The frame check's report, one line: "frame check: N skipped frames compared, M
  // differing; K shown frames replayed, L differing; picture kept: KEEPER; E redrawn after
  // exposure". Nothing when the check is off.
  void PrintCheck(std::FILE* out) const;

 private:
  static constexpr int kWidth = 800;   // window pixels
  static constexpr int kHeight = 600;  // window pixels
  // Changes covering more than this share of the window are drawn as a whole frame.
  static constexpr double kMostOfWindow = 0.5;

  DrawList next_;
  DrawList onScreen_;
  PictureBuffer picture_;
  std::vector<DrawList::Rect> changed_;  // where the next frame is redrawn
  long changedArea_ = 0;                 // their pixels
  bool whole_ = true;                    // the next frame is drawn in full
  double lastShare_ = 0.0;
  bool invalid_ = true;
  long recorded_ = 0;
  long shown_ = 0;
  bool check_ = false;
  void ReadBackBuffer(std::vector<uint8_t>* pixels) const;
  SDL_Window* window_ = nullptr;
  Keeper keeper_ = Keeper::kNone;
  bool forced_ = false;  // keeper_ is the only one Attach may choose
  SubBufferCopy subBuffer_;
  std::vector<uint8_t> direct_;    // the current frame drawn directly
  std::vector<uint8_t> screen_;    // the frame on screen, read back as it was put there
  long compared_ = 0;
  long differing_ = 0;
  long replayed_ = 0;
  long replayDiffering_ = 0;
  long exposures_ = 0;  // frames shown in full after the first because the picture was lost
};
