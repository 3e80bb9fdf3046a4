#pragma once
// Every picture the program draws goes through the functions of namespace `draw`: a thin
// layer over the fixed-function OpenGL calls the program uses, plus text. While a DrawList is
// recording, each call is appended to it as one command (and, if asked, also executed);
// with no list recording, each call is executed at once.
//
// The contract that lets the frame loop skip frames: a frame's list holds every argument of
// every drawing call the scene and the version label make, in order, and replaying it gives
// the same pixels as making the calls directly. Two frames whose lists are equal therefore
// show the same picture, provided that
//   - all drawing on the frame path goes through `draw` (no direct gl* call in a Draw body),
//   - the textures a list names do not change while they are used (images are loaded once at
//     start-up; a text's texture is made from its font, colour and characters, which the
//     command itself holds),
//   - the OpenGL state at the start of a frame is the same for every frame (each frame ends
//     with the version label, which leaves the same state behind).
// The comparison is bitwise on the arguments, so any change of a colour, position or text
// makes the lists differ. The frame-check build (MARLUNE_FRAME_CHECK) proves this on every
// frame it skips; see frame_recorder.h.
//
// These files own the list itself: recording, comparison, replay and description, and the
// `draw` functions that feed it. What a recorded call is and how it is made on OpenGL lives in
// draw_command.h; finding and redrawing the places where two lists differ in
// partial_redraw.h.
//
// Main thread only: recording, replaying, describing, and the `draw` functions.

#include <SDL.h>
#include <SDL_opengl.h>
#include <SDL_ttf.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "draw_command.h"
#include "partial_redraw.h"

class DrawList {
 public:
  // One recorded call (draw_command.h).
  using Command = DrawCommand;
  // A rectangle of window pixels (partial_redraw.h).
  using Rect = PartialRedraw::Rect;

  // Empties the list (keeps its storage).
  void Clear();
  // Makes this list the target of the `draw` functions until StopRecording; with execute
  // true each call is also made on OpenGL as it is recorded.
  void StartRecording(bool execute);
  // Ends recording; the `draw` functions execute at once again.
  static void StopRecording();
  // Makes every recorded call on OpenGL, in order. A list is always drawn (here, by
  // SubmitRegions, and by StartRecording's execution) from the current colour white, the
  // texture coordinate (0, 0) and no texture bound.
  void Submit() const;
  // Number of recorded commands.
  size_t Size() const { return commands_.size(); }
  // True when both lists hold the same calls with the same arguments.
  bool operator==(const DrawList& other) const;
  bool operator!=(const DrawList& other) const { return !(*this == other); }

  // The list as text, one call per line with its arguments: OpenGL constants by name, numbers
  // as exactly as they are stored, fonts and textures by the names the two functions give
  // (never by pointer or OpenGL name), so that a picture can be compared in a readable form.
  std::string Describe(const std::function<std::string(const TTF_Font*)>& fontName,
                       const std::function<std::string(unsigned int)>& textureName) const;

  // Appends a command (or executes it when no list records). Used by the `draw` functions.
  static void Add(const Command& command, const char* text = nullptr, size_t length = 0);

  // ---- Redrawing in places (partial_redraw.h says how) ----

  // Splits the recorded list into pieces for a window of width × height pixels. False when
  // the list uses OpenGL in a way the analysis does not follow; such a list can only be drawn
  // in full. Main thread, with the OpenGL context current.
  bool Analyse(int width, int height) { return redraw_.Analyse(Calls(), width, height); }
  // Sets `changed` to disjoint rectangles outside of which this list's picture equals the
  // picture of `shown` (both analysed). False when either list could not be analysed.
  // `changed` is empty when the pictures are equal everywhere.
  bool ChangedRegions(const DrawList& shown, std::vector<Rect>* changed) const {
    return redraw_.ChangedRegions(Calls(), shown.redraw_, shown.Calls(), changed);
  }
  // Turns the picture of the list analysed before into this list's picture, redrawing only
  // the rectangles (from ChangedRegions), each through scissor. The OpenGL state afterwards
  // is that of Submit, with the scissor test off.
  void SubmitRegions(const std::vector<Rect>& rects,
                     const std::function<void(const Rect&)>& scissor) const {
    redraw_.SubmitRegions(Calls(), rects, scissor);
  }

 private:
  RecordedCalls Calls() const { return RecordedCalls{commands_, text_}; }

  std::vector<Command> commands_;
  std::string text_;  // the characters of the list's texts, back to back
  PartialRedraw redraw_;  // the analysis of the commands, for redrawing in places
};

namespace draw {

// The OpenGL calls of the same names; arguments as OpenGL takes them (window pixels,
// colours 0 to 1, texture coordinates 0 to 1).
void Begin(GLenum mode);
void End();
void Vertex(float x, float y, float z = 0.0f);
void TexCoord(float s, float t);
void Color(float red, float green, float blue, float alpha = 1.0f);
void Enable(GLenum capability);
void Disable(GLenum capability);
void BlendFunc(GLenum source, GLenum destination);
void LineWidth(float width);
void ShadeModel(GLenum mode);
void PolygonMode(GLenum face, GLenum mode);
void BindTexture(GLuint texture);  // GL_TEXTURE_2D
// Minification and magnification filter (GL_NEAREST, GL_LINEAR) of the bound 2D texture.
void TextureFilter(GLenum filter);
void Fogi(GLenum name, GLint value);
void Fogf(GLenum name, float value);
void FogColor(const float rgba[4]);
void Hint(GLenum target, GLenum mode);
void PushAttrib(GLbitfield mask);
void PopAttrib();

// The four vertices of the rectangle (x0, y0)-(x1, y1), window pixels, in the order
// lower-left, upper-left, upper-right, lower-right; inside Begin(GL_QUADS) ... End().
void QuadVertices(float x0, float y0, float x1, float y1);
// The pad look: a black rectangle (x, y, w, h), window pixels, inside a 1-pixel white frame.
void Frame(float x, float y, float w, float h);
// Blends a white quad of the given alpha (0 to 1) over the rectangle (x, y, w, h), window
// pixels; blending stays on.
void Highlight(float x, float y, float w, float h, float alpha);

// Draws text with font in colour (red, green, blue; alpha ignored: glyphs are opaque) with
// the lower-left corner of its box at (x, y), window pixels. The string is rendered and
// uploaded once per (font, colour, text) and kept in a bounded texture cache. Blending ends
// disabled, texturing enabled with no texture bound. An empty text or a null font draws
// nothing and changes nothing.
void Text(TTF_Font* font, SDL_Color color, float x, float y, const char* text, size_t length);

// Deletes the cached text textures. Main thread, while the OpenGL context exists.
void ReleaseTextCache();
// Texts rendered and uploaded so far (cache misses).
unsigned long TextUploads();

}  // namespace draw
