#pragma once
// One drawing call as a DrawList records it, and how such a call is made on OpenGL: the
// vocabulary shared by the list (draw_list.h) and its redrawing in places (partial_redraw.h).
// Owns the texture cache behind text commands, the one the whole program draws texts from.
//
// Main thread only: making commands on OpenGL and the text textures need the OpenGL context
// current.

#include <SDL.h>
#include <SDL_opengl.h>
#include <SDL_ttf.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "text_cache.h"

// One recorded call: an operation and its arguments, with no padding, so that lists compare
// bytewise. A text command holds its font in p, its colour as 0xRRGGBB in u[2], where its
// characters start in the list's text in u[0] and their number in u[1].
struct DrawCommand {
  uint32_t op = 0;
  uint32_t u[3] = {0, 0, 0};
  float f[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  uint64_t p = 0;
};

namespace draw_op {
// The operations, one per call of namespace draw (draw_list.h); kText draws a text.
enum Op : uint32_t {
  kBegin,
  kEnd,
  kVertex,
  kTexCoord,
  kColor,
  kEnable,
  kDisable,
  kBlendFunc,
  kLineWidth,
  kShadeModel,
  kPolygonMode,
  kBindTexture,
  kTextureFilter,
  kFogi,
  kFogf,
  kFogColor,
  kHint,
  kPushAttrib,
  kPopAttrib,
  kText,
};
}  // namespace draw_op

// A recorded list as its readers see it: the calls in order and the characters of its texts,
// back to back. Both must outlive the view.
struct RecordedCalls {
  const std::vector<DrawCommand>& commands;
  const std::string& text;
  // The characters of a text command; null for any other command.
  const char* TextOf(const DrawCommand& c) const;
};

DrawCommand MakeCommand(draw_op::Op op, uint32_t a = 0, uint32_t b = 0, float f0 = 0.0f,
                        float f1 = 0.0f, float f2 = 0.0f, float f3 = 0.0f);

// The font and the colour (alpha 255) of a text command.
TTF_Font* CommandFont(const DrawCommand& c);
SDL_Color CommandColor(const DrawCommand& c);

// The state a drawn text leaves behind, as commands: blending off with the text's blend
// function, texturing on with no texture bound (the texture stays cached: later untextured
// drawing finds no image), colour white, the quad's last texture coordinate. Drawing a text
// ends by making them; a text left out of a redraw makes them instead, and the analysis
// follows them.
constexpr size_t kTextAftermathSize = 6;
extern const DrawCommand kTextAftermath[kTextAftermathSize];

// Makes the call a command records on OpenGL; text is the command's characters (TextOf).
void RunCommand(const DrawCommand& c, const char* text);
// Sets the state every list is drawn from: the current colour white, the texture coordinate
// (0, 0) and no texture bound.
void StartCommandState();
// The textures of the texts drawn, one per (font, colour, characters).
TextCache& TextTextures();
