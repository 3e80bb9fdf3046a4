#pragma once
// Redrawing a frame in places: the pieces of a recorded list (draw_command.h) and the OpenGL
// state each is drawn in, the rectangles where two lists' pictures differ, and the replay of a
// list clipped to those rectangles. Owns the analysis of one list; the list itself (its
// commands and texts) stays with its DrawList, which hands it in with every call.
//
// A list is made of pieces, each one primitive (Begin ... End) or one text, and the state
// commands between them. Analyse follows the OpenGL state through the list and gives every
// piece the pixels it can touch and the state it is drawn in. A piece drawn in the same state
// with the same commands gives the same pixels wherever it appears, so two lists whose pieces
// differ only in some places show the same picture outside those pieces' pixels.
//
// Main thread only, with the OpenGL context current (Analyse renders texts into the text
// cache; SubmitRegions draws).

#include <cstdint>
#include <functional>
#include <vector>

#include "draw_command.h"

class PartialRedraw {
 public:
  // A rectangle of window pixels: columns x0 to x1 - 1, rows y0 to y1 - 1 (y up).
  struct Rect {
    int x0 = 0;
    int y0 = 0;
    int x1 = 0;
    int y1 = 0;
  };

  // Forgets the analysis (keeps its storage).
  void Clear();
  // Splits the list into pieces for a window of width × height pixels. Texts are rendered
  // into the text cache if they are not there yet (their size is their texture's). False when
  // the list uses OpenGL in a way the analysis does not follow; such a list can only be drawn
  // in full.
  bool Analyse(RecordedCalls list, int width, int height);
  // Sets `changed` to disjoint rectangles outside of which the picture of list (analysed here)
  // equals the picture of shownList (analysed by shown): every piece of either list without
  // an equal partner in the other, in the same order, lies inside them. False when either
  // list could not be analysed. `changed` is empty when the pictures are equal everywhere.
  bool ChangedRegions(RecordedCalls list, const PartialRedraw& shown, RecordedCalls shownList,
                      std::vector<Rect>* changed) const;
  // Turns the picture of the list analysed before into the picture of list (analysed here) by
  // clearing the rectangles (disjoint, from ChangedRegions) and drawing in them, each clipped
  // to them, the pieces that touch them; pixels outside stay as they are. scissor sets the
  // OpenGL scissor box to a rectangle (the target may count its rows otherwise). Starts from
  // StartCommandState; the OpenGL state afterwards is that of the whole list drawn, with the
  // scissor test off.
  void SubmitRegions(RecordedCalls list, const std::vector<Rect>& rects,
                     const std::function<void(const Rect&)>& scissor) const;

 private:
  // A piece: commands [first, end) (a Begin ... End or one text), the state it is drawn in
  // (an index into states_, and the current colour and texture coordinate when its first
  // vertex uses them), the pixels it can touch and a hash of all of that.
  struct Piece {
    uint32_t first = 0;
    uint32_t end = 0;
    uint32_t state = 0;
    bool usesColor = false;
    bool usesTexCoord = false;
    float color[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    float texCoord[2] = {0.0f, 0.0f};
    Rect box;
    int margin = 0;  // pixels its primitives reach beyond their vertices
    uint64_t hash = 0;
    // For drawing the list without this piece: the commands setting the current colour and
    // texture coordinate that it leaves behind (-1: none), or, for a text, whether it drew.
    int32_t lastColor = -1;
    int32_t lastTexCoord = -1;
    bool textDrawn = false;
  };
  bool SamePiece(RecordedCalls list, const Piece& a, const PartialRedraw& other,
                 RecordedCalls otherList, const Piece& b) const;
  bool SameState(const Piece& a, const PartialRedraw& other, const Piece& b) const;
  void AddChangedPrimitives(RecordedCalls list, const Piece& a, const PartialRedraw& other,
                            RecordedCalls otherList, const Piece& b,
                            std::vector<Rect>* changed) const;
  static void Skip(RecordedCalls list, const Piece& piece);

  bool analysed_ = false;
  int width_ = 0;   // of the window analysed for, pixels
  int height_ = 0;
  std::vector<Piece> pieces_;
  std::vector<uint32_t> states_;  // the states pieces are drawn in, back to back (see .cpp)
};
