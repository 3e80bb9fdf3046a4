#include "draw_command.h"

#include <type_traits>

using namespace draw_op;

// Commands are compared bytewise (floats by their bits): they must have no padding.
static_assert(std::is_trivially_copyable_v<DrawCommand> &&
                  sizeof(DrawCommand) == 4 * sizeof(uint32_t) + 4 * sizeof(float) +
                                             sizeof(uint64_t),
              "draw commands must have no padding");

namespace {
TextCache textCache;
}  // namespace

TextCache& TextTextures() { return textCache; }

const char* RecordedCalls::TextOf(const DrawCommand& c) const {
  return c.op == kText ? text.data() + c.u[0] : nullptr;
}

DrawCommand MakeCommand(Op op, uint32_t a, uint32_t b, float f0, float f1, float f2, float f3) {
  DrawCommand c;
  c.op = op;
  c.u[0] = a;
  c.u[1] = b;
  c.f[0] = f0;
  c.f[1] = f1;
  c.f[2] = f2;
  c.f[3] = f3;
  return c;
}

const DrawCommand kTextAftermath[kTextAftermathSize] = {
    MakeCommand(kBlendFunc, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA),
    MakeCommand(kEnable, GL_TEXTURE_2D),
    MakeCommand(kColor, 0, 0, 1.0f, 1.0f, 1.0f, 1.0f),
    MakeCommand(kTexCoord, 0, 0, 0.0f, 1.0f),
    MakeCommand(kDisable, GL_BLEND),
    MakeCommand(kBindTexture, 0),
};

TTF_Font* CommandFont(const DrawCommand& c) {
  return reinterpret_cast<TTF_Font*>(static_cast<uintptr_t>(c.p));
}

SDL_Color CommandColor(const DrawCommand& c) {
  return SDL_Color{static_cast<Uint8>(c.u[2] >> 16), static_cast<Uint8>(c.u[2] >> 8),
                   static_cast<Uint8>(c.u[2]), 255};
}

void StartCommandState() {
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  glTexCoord2f(0.0f, 0.0f);
  glBindTexture(GL_TEXTURE_2D, 0);  // uploading a text may have left its texture bound
}

namespace {
// The text quad: the whole padded texture drawn texel for texel, the glyphs in its lower-left
// corner; x and y are not snapped to whole pixels.
void DrawText(const DrawCommand& c, const char* text) {
  const TextCache::Entry& entry = textCache.Get(CommandFont(c), CommandColor(c), text, c.u[1]);
  if (entry.id == 0) return;
  const float x = c.f[0];
  const float y = c.f[1];
  const float w = static_cast<float>(entry.width);
  const float h = static_cast<float>(entry.height);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glBindTexture(GL_TEXTURE_2D, entry.id);
  glEnable(GL_TEXTURE_2D);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex2f(x, y);
  glTexCoord2f(1.0f, 0.0f);
  glVertex2f(x + w, y);
  glTexCoord2f(1.0f, 1.0f);
  glVertex2f(x + w, y + h);
  glTexCoord2f(0.0f, 1.0f);
  glVertex2f(x, y + h);
  glEnd();
  for (const DrawCommand& after : kTextAftermath) RunCommand(after, nullptr);
}

}  // namespace

// Makes the call a command records on OpenGL.
void RunCommand(const DrawCommand& c, const char* text) {
  switch (c.op) {
    case kBegin: glBegin(c.u[0]); break;
    case kEnd: glEnd(); break;
    case kVertex: glVertex3f(c.f[0], c.f[1], c.f[2]); break;
    case kTexCoord: glTexCoord2f(c.f[0], c.f[1]); break;
    case kColor: glColor4f(c.f[0], c.f[1], c.f[2], c.f[3]); break;
    case kEnable: glEnable(c.u[0]); break;
    case kDisable: glDisable(c.u[0]); break;
    case kBlendFunc: glBlendFunc(c.u[0], c.u[1]); break;
    case kLineWidth: glLineWidth(c.f[0]); break;
    case kShadeModel: glShadeModel(c.u[0]); break;
    case kPolygonMode: glPolygonMode(c.u[0], c.u[1]); break;
    case kBindTexture: glBindTexture(GL_TEXTURE_2D, c.u[0]); break;
    case kTextureFilter:
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(c.u[0]));
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, static_cast<GLint>(c.u[0]));
      break;
    case kFogi: glFogi(c.u[0], static_cast<GLint>(c.u[1])); break;
    case kFogf: glFogf(c.u[0], c.f[0]); break;
    case kFogColor: glFogfv(GL_FOG_COLOR, c.f); break;
    case kHint: glHint(c.u[0], c.u[1]); break;
    case kPushAttrib: glPushAttrib(c.u[0]); break;
    case kPopAttrib: glPopAttrib(); break;
    case kText: DrawText(c, text); break;
    default: break;
  }
}
