#include "draw_list.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace draw_op;

namespace {
DrawList* recording = nullptr;
bool executeWhileRecording = false;
}  // namespace

void DrawList::Clear() {
  commands_.clear();
  text_.clear();
  redraw_.Clear();
}

void DrawList::StartRecording(bool execute) {
  recording = this;
  executeWhileRecording = execute;
  if (execute) StartCommandState();
}

void DrawList::StopRecording() {
  recording = nullptr;
  executeWhileRecording = false;
}

bool DrawList::operator==(const DrawList& other) const {
  return commands_.size() == other.commands_.size() && text_ == other.text_ &&
         (commands_.empty() ||
          std::memcmp(commands_.data(), other.commands_.data(),
                      commands_.size() * sizeof(Command)) == 0);
}

void DrawList::Add(const Command& command, const char* text, size_t length) {
  if (recording == nullptr) {
    RunCommand(command, text);
    return;
  }
  Command c = command;
  if (c.op == kText) {
    c.u[0] = static_cast<uint32_t>(recording->text_.size());
    recording->text_.append(text, length);
  }
  recording->commands_.push_back(c);
  if (executeWhileRecording) RunCommand(c, text);
}

void DrawList::Submit() const {
  StartCommandState();
  const RecordedCalls calls = Calls();
  for (const Command& c : commands_) RunCommand(c, calls.TextOf(c));
}

namespace draw {

void Begin(GLenum mode) { DrawList::Add(MakeCommand(kBegin, mode)); }
void End() { DrawList::Add(MakeCommand(kEnd)); }
void Vertex(float x, float y, float z) { DrawList::Add(MakeCommand(kVertex, 0, 0, x, y, z)); }
void TexCoord(float s, float t) { DrawList::Add(MakeCommand(kTexCoord, 0, 0, s, t)); }
void Color(float red, float green, float blue, float alpha) {
  DrawList::Add(MakeCommand(kColor, 0, 0, red, green, blue, alpha));
}
void Enable(GLenum capability) { DrawList::Add(MakeCommand(kEnable, capability)); }
void Disable(GLenum capability) { DrawList::Add(MakeCommand(kDisable, capability)); }
void BlendFunc(GLenum source, GLenum destination) {
  DrawList::Add(MakeCommand(kBlendFunc, source, destination));
}
void LineWidth(float width) { DrawList::Add(MakeCommand(kLineWidth, 0, 0, width)); }
void ShadeModel(GLenum mode) { DrawList::Add(MakeCommand(kShadeModel, mode)); }
void PolygonMode(GLenum face, GLenum mode) { DrawList::Add(MakeCommand(kPolygonMode, face, mode)); }
void BindTexture(GLuint texture) { DrawList::Add(MakeCommand(kBindTexture, texture)); }
void TextureFilter(GLenum filter) { DrawList::Add(MakeCommand(kTextureFilter, filter)); }
void Fogi(GLenum name, GLint value) {
  DrawList::Add(MakeCommand(kFogi, name, static_cast<uint32_t>(value)));
}
void Fogf(GLenum name, float value) { DrawList::Add(MakeCommand(kFogf, name, 0, value)); }
void FogColor(const float rgba[4]) {
  DrawList::Add(MakeCommand(kFogColor, 0, 0, rgba[0], rgba[1], rgba[2], rgba[3]));
}
void Hint(GLenum target, GLenum mode) { DrawList::Add(MakeCommand(kHint, target, mode)); }
void PushAttrib(GLbitfield mask) { DrawList::Add(MakeCommand(kPushAttrib, mask)); }
void PopAttrib() { DrawList::Add(MakeCommand(kPopAttrib)); }

void QuadVertices(float x0, float y0, float x1, float y1) {
  Vertex(x0, y0);
  Vertex(x0, y1);
  Vertex(x1, y1);
  Vertex(x1, y0);
}

void Frame(float x, float y, float w, float h) {
  Begin(GL_QUADS);
  Color(1.0f, 1.0f, 1.0f);
  QuadVertices(x, y, x + w, y + h);
  Color(0.0f, 0.0f, 0.0f);
  QuadVertices(x + 1, y + 1, x + w - 1, y + h - 1);
  End();
}

void Highlight(float x, float y, float w, float h, float alpha) {
  Enable(GL_BLEND);
  BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  Color(1.0f, 1.0f, 1.0f, alpha);
  Begin(GL_QUADS);
  QuadVertices(x, y, x + w, y + h);
  End();
}

void Text(TTF_Font* font, SDL_Color color, float x, float y, const char* text, size_t length) {
  if (font == nullptr || text == nullptr || length == 0) return;
  DrawList::Command c = MakeCommand(kText, 0, static_cast<uint32_t>(length), x, y);
  c.u[2] = (static_cast<uint32_t>(color.r) << 16) | (static_cast<uint32_t>(color.g) << 8) |
           color.b;
  c.p = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(font));
  DrawList::Add(c, text, length);
}

void ReleaseTextCache() { TextTextures().Release(); }

unsigned long TextUploads() { return TextTextures().Uploads(); }

}  // namespace draw

namespace {
const char* const kOpNames[] = {
    "Begin",      "End",         "Vertex",      "TexCoord",      "Color",
    "Enable",     "Disable",     "BlendFunc",   "LineWidth",     "ShadeModel",
    "PolygonMode", "BindTexture", "TextureFilter", "Fogi",        "Fogf",
    "FogColor",   "Hint",        "PushAttrib",  "PopAttrib",     "Text",
};
static_assert(sizeof kOpNames / sizeof kOpNames[0] == kText + 1, "one name per operation");

// The name of an OpenGL constant the drawing uses, or its value in hexadecimal.
std::string EnumName(uint32_t value) {
  switch (value) {
    case GL_QUADS: return "QUADS";
    case GL_LINES: return "LINES";
    case GL_LINE_STRIP: return "LINE_STRIP";
    case GL_TRIANGLES: return "TRIANGLES";
    case GL_BLEND: return "BLEND";
    case GL_TEXTURE_2D: return "TEXTURE_2D";
    case GL_FOG: return "FOG";
    case GL_LINE_SMOOTH: return "LINE_SMOOTH";
    case GL_SRC_ALPHA: return "SRC_ALPHA";
    case GL_ONE_MINUS_SRC_ALPHA: return "ONE_MINUS_SRC_ALPHA";
    case GL_NEAREST: return "NEAREST";
    case GL_LINEAR: return "LINEAR";
    case GL_FOG_MODE: return "FOG_MODE";
    case GL_FOG_START: return "FOG_START";
    case GL_FOG_END: return "FOG_END";
    case GL_FOG_DENSITY: return "FOG_DENSITY";
    case GL_FRONT_AND_BACK: return "FRONT_AND_BACK";
    case GL_FILL: return "FILL";
    case GL_SMOOTH: return "SMOOTH";
    case GL_FLAT: return "FLAT";
    case GL_NICEST: return "NICEST";
    case GL_LINE_SMOOTH_HINT: return "LINE_SMOOTH_HINT";
    default: break;
  }
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%x", value);
  return hex;
}

// A float as the shortest plain decimal that reads back to the same value.
std::string Number(float value) {
  char text[48];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    if (std::strchr(text, 'e') == nullptr && std::strtof(text, nullptr) == value) return text;
  }
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}
}  // namespace

std::string DrawList::Describe(const std::function<std::string(const TTF_Font*)>& fontName,
                               const std::function<std::string(unsigned int)>& textureName) const {
  std::string out;
  for (const Command& c : commands_) {
    out += c.op <= kText ? kOpNames[c.op] : "?";
    switch (c.op) {
      case kBegin: case kEnable: case kDisable: case kShadeModel: case kTextureFilter:
      case kPushAttrib:
        out += " " + EnumName(c.u[0]);
        break;
      case kBlendFunc: case kPolygonMode: case kHint: case kFogi:
        out += " " + EnumName(c.u[0]) + " " + EnumName(c.u[1]);
        break;
      case kVertex:
        out += " " + Number(c.f[0]) + " " + Number(c.f[1]) + (c.f[2] != 0.0f ? " " + Number(c.f[2]) : "");
        break;
      case kTexCoord:
        out += " " + Number(c.f[0]) + " " + Number(c.f[1]);
        break;
      case kColor: case kFogColor:
        for (int i = 0; i < 4; ++i) out += " " + Number(c.f[i]);
        break;
      case kLineWidth:
        out += " " + Number(c.f[0]);
        break;
      case kFogf:
        out += " " + EnumName(c.u[0]) + " " + Number(c.f[0]);
        break;
      case kBindTexture:
        out += " " + textureName(c.u[0]);
        break;
      case kText: {
        const SDL_Color rgb = CommandColor(c);
        char colour[32];
        std::snprintf(colour, sizeof colour, " rgb(%u,%u,%u)", unsigned{rgb.r}, unsigned{rgb.g},
                      unsigned{rgb.b});
        out += " " + fontName(CommandFont(c)) +
               colour + " at " + Number(c.f[0]) + " " + Number(c.f[1]) + " \"" +
               text_.substr(c.u[0], c.u[1]) + "\"";
        break;
      }
      default:
        break;
    }
    out += "\n";
  }
  return out;
}
