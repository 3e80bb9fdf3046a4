#include "draw_list.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "text_cache.h"

// Commands are compared bytewise (floats by their bits): they must have no padding.
static_assert(std::is_trivially_copyable_v<DrawList::Command> &&
                  sizeof(DrawList::Command) == 4 * sizeof(uint32_t) + 4 * sizeof(float) +
                                                   sizeof(uint64_t),
              "draw commands must have no padding");

namespace {

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

DrawList* recording = nullptr;
bool executeWhileRecording = false;
TextCache textCache;

DrawList::Command Make(Op op, uint32_t a = 0, uint32_t b = 0, float f0 = 0.0f, float f1 = 0.0f,
                       float f2 = 0.0f, float f3 = 0.0f) {
  DrawList::Command c;
  c.op = op;
  c.u[0] = a;
  c.u[1] = b;
  c.f[0] = f0;
  c.f[1] = f1;
  c.f[2] = f2;
  c.f[3] = f3;
  return c;
}

// The state a drawn text leaves behind, as commands: blending off with the text's blend
// function, texturing on with no texture bound (the texture stays cached: later untextured
// drawing finds no image), colour white, the quad's last texture coordinate. DrawText ends by
// making them; a text left out of a redraw makes them instead, and the analysis follows them.
const DrawList::Command kTextAftermath[] = {
    Make(kBlendFunc, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA),
    Make(kEnable, GL_TEXTURE_2D),
    Make(kColor, 0, 0, 1.0f, 1.0f, 1.0f, 1.0f),
    Make(kTexCoord, 0, 0, 0.0f, 1.0f),
    Make(kDisable, GL_BLEND),
    Make(kBindTexture, 0),
};

TTF_Font* FontOf(const DrawList::Command& c) {
  return reinterpret_cast<TTF_Font*>(static_cast<uintptr_t>(c.p));
}

SDL_Color ColorOf(const DrawList::Command& c) {
  return SDL_Color{static_cast<Uint8>(c.u[2] >> 16), static_cast<Uint8>(c.u[2] >> 8),
                   static_cast<Uint8>(c.u[2]), 255};
}

void Run(const DrawList::Command& c, const char* text);

// The text quad: the whole padded texture drawn texel for texel, the glyphs in its lower-left
// corner; x and y are not snapped to whole pixels.
void DrawText(const DrawList::Command& c, const char* text) {
  const TextCache::Entry& entry = textCache.Get(FontOf(c), ColorOf(c), text, c.u[1]);
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
  for (const DrawList::Command& after : kTextAftermath) Run(after, nullptr);
}

}  // namespace

void DrawList::Clear() {
  commands_.clear();
  text_.clear();
  analysed_ = false;
  pieces_.clear();
  states_.clear();
}

void DrawList::StartRecording(bool execute) {
  recording = this;
  executeWhileRecording = execute;
  if (execute) StartState();
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
    Execute(command, text);
    return;
  }
  Command c = command;
  if (c.op == kText) {
    c.u[0] = static_cast<uint32_t>(recording->text_.size());
    recording->text_.append(text, length);
  }
  recording->commands_.push_back(c);
  if (executeWhileRecording) Execute(c, text);
}

void DrawList::Submit() const {
  StartState();
  for (const Command& c : commands_) Execute(c, TextOf(c));
}

const char* DrawList::TextOf(const Command& c) const {
  return c.op == kText ? text_.data() + c.u[0] : nullptr;
}

namespace {

// Makes the call a command records on OpenGL.
void Run(const DrawList::Command& c, const char* text) {
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

}  // namespace

void DrawList::Execute(const Command& c, const char* text) { Run(c, text); }

// ---- Redrawing in places ----

namespace {

// Hashing of byte runs, combined in order.
uint64_t Mix(uint64_t seed, uint64_t value) {
  seed ^= value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
  return seed;
}

uint64_t HashBytes(uint64_t seed, const void* data, size_t size) {
  return Mix(seed, std::hash<std::string_view>{}(
                       std::string_view(static_cast<const char*>(data), size)));
}

uint32_t Bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}

float FloatOf(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

// The OpenGL state a list sets, followed command by command: every value a state command has
// set (enables, blend function, line width, shade model, polygon modes, bound texture, fog,
// hints), the current colour and texture coordinate, and the attribute stack. Values not set
// yet are those at the start of the list, the same for every list, so two trackers with the
// same values stand for the same OpenGL state.
//
// Texture filters belong to the texture object, not to this state, and PopAttrib restores
// those of the textures bound at the push: the tracker keeps the history of filter changes
// and pops instead, which fixes every texture's filter.
class StateTracker {
 public:
  static constexpr size_t kMaxDepth = 16;  // OpenGL's smallest attribute stack

  float color[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  float texCoord[2] = {0.0f, 0.0f};
  bool failed = false;

  // Follows one command outside Begin ... End (not Begin, End, Vertex or Text).
  void Apply(const DrawList::Command& c) {
    switch (c.op) {
      case kColor: std::memcpy(color, c.f, sizeof color); break;
      case kTexCoord: std::memcpy(texCoord, c.f, sizeof texCoord); break;
      case kEnable:
      case kDisable:
        // The scissor is the redraw's own.
        if (c.u[0] == GL_SCISSOR_TEST) failed = true;
        Set(Key(kEnable, c.u[0]), c.op == kEnable ? 1 : 0);
        break;
      case kBlendFunc: Set(Key(kBlendFunc), c.u[0], c.u[1]); break;
      case kLineWidth: Set(Key(kLineWidth), Bits(c.f[0])); break;
      case kShadeModel: Set(Key(kShadeModel), c.u[0]); break;
      case kPolygonMode:
        if (c.u[0] == GL_FRONT || c.u[0] == GL_FRONT_AND_BACK) {
          Set(Key(kPolygonMode, GL_FRONT), c.u[1]);
        }
        if (c.u[0] == GL_BACK || c.u[0] == GL_FRONT_AND_BACK) {
          Set(Key(kPolygonMode, GL_BACK), c.u[1]);
        }
        if (c.u[0] != GL_FRONT && c.u[0] != GL_BACK && c.u[0] != GL_FRONT_AND_BACK) failed = true;
        break;
      case kBindTexture: Set(Key(kBindTexture), c.u[0]); break;
      case kTextureFilter:
        filterHistory_ = Mix(Mix(Mix(filterHistory_, kTextureFilter), Get(Key(kBindTexture), 0)),
                             c.u[0]);
        break;
      // One value per fog parameter, whichever call set it last.
      case kFogi: Set(Key(kFogf, c.u[0]), 0, c.u[1]); break;
      case kFogf: Set(Key(kFogf, c.u[0]), 1, Bits(c.f[0])); break;
      case kFogColor:
        Set(Key(kFogColor), Bits(c.f[0]), Bits(c.f[1]), Bits(c.f[2]), Bits(c.f[3]));
        break;
      case kHint: Set(Key(kHint, c.u[0]), c.u[1]); break;
      case kPushAttrib:
        if (stack_.size() == kMaxDepth) {
          failed = true;
          break;
        }
        stack_.push_back(Saved{c.u[0], entries_, {}, {}});
        std::memcpy(stack_.back().color, color, sizeof color);
        std::memcpy(stack_.back().texCoord, texCoord, sizeof texCoord);
        break;
      case kPopAttrib: {
        // Only the whole state is followed through a pop.
        if (stack_.empty() || stack_.back().mask != GL_ALL_ATTRIB_BITS) {
          failed = true;
          break;
        }
        Saved& saved = stack_.back();
        entries_.swap(saved.entries);
        std::memcpy(color, saved.color, sizeof color);
        std::memcpy(texCoord, saved.texCoord, sizeof texCoord);
        stack_.pop_back();
        filterHistory_ = Mix(Mix(filterHistory_, kPopAttrib), Get(Key(kBindTexture), 0));
        break;
      }
      default: failed = true; break;
    }
  }

  // The line width set (1 unless set).
  float LineWidth() const { return FloatOf(Get(Key(kLineWidth), Bits(1.0f))); }
  // True when both faces' polygons are filled.
  bool Filled() const {
    return Get(Key(kPolygonMode, GL_FRONT), GL_FILL) == GL_FILL &&
           Get(Key(kPolygonMode, GL_BACK), GL_FILL) == GL_FILL;
  }

  // Appends the state but for colour and texture coordinate to out: its length in words,
  // then the filter history and every value set.
  void AppendTo(std::vector<uint32_t>* out) const {
    const size_t start = out->size();
    out->push_back(0);
    out->push_back(static_cast<uint32_t>(filterHistory_));
    out->push_back(static_cast<uint32_t>(filterHistory_ >> 32));
    for (const Entry& e : entries_) {
      out->push_back(static_cast<uint32_t>(e.key));
      out->push_back(static_cast<uint32_t>(e.key >> 32));
      out->insert(out->end(), e.value, e.value + 4);
    }
    (*out)[start] = static_cast<uint32_t>(out->size() - start);
  }

 private:
  struct Entry {
    uint64_t key;
    uint32_t value[4];
  };
  struct Saved {
    uint32_t mask;
    std::vector<Entry> entries;
    float color[4];
    float texCoord[2];
  };

  // The command in the upper half, the OpenGL name (capability, parameter, target, face) in
  // the lower.
  static uint64_t Key(uint32_t op, uint32_t name = 0) { return (uint64_t{op} << 32) | name; }

  void Set(uint64_t key, uint32_t a, uint32_t b = 0, uint32_t c = 0, uint32_t d = 0) {
    auto at = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const Entry& e, uint64_t k) { return e.key < k; });
    if (at == entries_.end() || at->key != key) at = entries_.insert(at, Entry{key, {}});
    at->value[0] = a;
    at->value[1] = b;
    at->value[2] = c;
    at->value[3] = d;
  }

  uint32_t Get(uint64_t key, uint32_t fallback) const {
    auto at = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const Entry& e, uint64_t k) { return e.key < k; });
    return at != entries_.end() && at->key == key ? at->value[0] : fallback;
  }

  std::vector<Entry> entries_;  // sorted by key
  uint64_t filterHistory_ = 0;
  std::vector<Saved> stack_;
};

// Pixels a primitive with vertices in [minX, maxX] × [minY, maxY] can touch, widened by
// margin pixels and clipped to the window.
DrawList::Rect Cover(float minX, float minY, float maxX, float maxY, int margin, int width,
                     int height) {
  DrawList::Rect r;
  r.x0 = std::max(0, static_cast<int>(std::floor(minX)) - margin);
  r.y0 = std::max(0, static_cast<int>(std::floor(minY)) - margin);
  r.x1 = std::min(width, static_cast<int>(std::ceil(maxX)) + margin);
  r.y1 = std::min(height, static_cast<int>(std::ceil(maxY)) + margin);
  if (r.x1 <= r.x0 || r.y1 <= r.y0) r = DrawList::Rect{};
  return r;
}

bool Empty(const DrawList::Rect& r) { return r.x1 <= r.x0 || r.y1 <= r.y0; }

long Area(const DrawList::Rect& r) {
  return Empty(r) ? 0 : static_cast<long>(r.x1 - r.x0) * (r.y1 - r.y0);
}

bool Overlap(const DrawList::Rect& a, const DrawList::Rect& b) {
  return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

DrawList::Rect Union(const DrawList::Rect& a, const DrawList::Rect& b) {
  return DrawList::Rect{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1),
                        std::max(a.y1, b.y1)};
}

// Merges rectangles until none overlap; two that nearly fill their common bounding box are
// merged as well (one redraw costs less than two).
void Merge(std::vector<DrawList::Rect>* rects) {
  constexpr long kWaste = 256;  // pixels a merge may add
  std::vector<DrawList::Rect>& r = *rects;
  bool merged = true;
  while (merged) {
    merged = false;
    for (size_t i = 0; i < r.size(); ++i) {
      for (size_t j = i + 1; j < r.size();) {
        const DrawList::Rect u = Union(r[i], r[j]);
        if (Overlap(r[i], r[j]) || Area(u) <= Area(r[i]) + Area(r[j]) + kWaste) {
          r[i] = u;
          r[j] = r.back();
          r.pop_back();
          merged = true;
        } else {
          ++j;
        }
      }
    }
  }
}

// Margins of a primitive's pixels beyond its vertices: filled polygons touch only pixels
// whose centres they cover; lines, outlines and points reach out by their width (smoothed
// or not).
constexpr int kFillMargin = 1;
int LineMargin(float width) {
  return static_cast<int>(std::ceil(std::max(width, 1.0f))) + 2;
}

}  // namespace

void DrawList::StartState() {
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  glTexCoord2f(0.0f, 0.0f);
  glBindTexture(GL_TEXTURE_2D, 0);  // uploading a text may have left its texture bound
}

bool DrawList::Analyse(int width, int height) {
  pieces_.clear();
  states_.clear();
  analysed_ = false;
  StateTracker state;
  bool stateChanged = true;  // since the last piece's state was stored
  uint32_t stateAt = 0;      // where in states_ the last stored state starts
  const uint32_t n = static_cast<uint32_t>(commands_.size());
  for (uint32_t i = 0; i < n && !state.failed; ++i) {
    const Command& c = commands_[i];
    if (c.op != kBegin && c.op != kText) {
      if (c.op == kEnd || c.op == kVertex) return false;  // outside Begin ... End
      state.Apply(c);
      if (c.op != kColor && c.op != kTexCoord) stateChanged = true;
      continue;
    }
    if (stateChanged) {
      stateAt = static_cast<uint32_t>(states_.size());
      state.AppendTo(&states_);
      stateChanged = false;
    }
    Piece piece;
    piece.first = i;
    piece.state = stateAt;
    std::memcpy(piece.color, state.color, sizeof piece.color);
    std::memcpy(piece.texCoord, state.texCoord, sizeof piece.texCoord);
    uint64_t hash = 0;
    if (c.op == kText) {
      const TextCache::Entry& entry = textCache.Get(FontOf(c), ColorOf(c), TextOf(c), c.u[1]);
      piece.end = i + 1;
      piece.textDrawn = entry.id != 0;
      if (piece.textDrawn) {
        piece.margin = kFillMargin;
        piece.box = Cover(c.f[0], c.f[1], c.f[0] + entry.width, c.f[1] + entry.height,
                          piece.margin, width, height);
        for (const Command& after : kTextAftermath) state.Apply(after);
        stateChanged = true;
      }
      Command key = c;
      key.u[0] = 0;  // where the characters lie in this list
      hash = HashBytes(Mix(hash, kText), &key, sizeof key);
      hash = HashBytes(hash, TextOf(c), c.u[1]);
    } else {
      const GLenum mode = c.u[0];
      if (mode > GL_POLYGON) return false;
      bool vertex = false;
      float minX = 0.0f, minY = 0.0f, maxX = 0.0f, maxY = 0.0f;
      uint32_t j = i + 1;
      for (; j < n && commands_[j].op != kEnd; ++j) {
        const Command& v = commands_[j];
        if (v.op == kColor) {
          piece.lastColor = static_cast<int32_t>(j);
          state.Apply(v);
        } else if (v.op == kTexCoord) {
          piece.lastTexCoord = static_cast<int32_t>(j);
          state.Apply(v);
        } else if (v.op == kVertex) {
          if (!std::isfinite(v.f[0]) || !std::isfinite(v.f[1])) return false;
          if (!vertex) {
            // The first vertex takes the colour and coordinate current at Begin unless the
            // piece set its own before it.
            piece.usesColor = piece.lastColor < 0;
            piece.usesTexCoord = piece.lastTexCoord < 0;
            minX = maxX = v.f[0];
            minY = maxY = v.f[1];
            vertex = true;
          }
          minX = std::min(minX, v.f[0]);
          maxX = std::max(maxX, v.f[0]);
          minY = std::min(minY, v.f[1]);
          maxY = std::max(maxY, v.f[1]);
        } else {
          return false;  // not allowed inside Begin ... End
        }
      }
      if (j == n) return false;  // no End
      piece.end = j + 1;
      const bool filled = mode >= GL_TRIANGLES && state.Filled();
      piece.margin = filled ? kFillMargin : LineMargin(state.LineWidth());
      if (vertex) piece.box = Cover(minX, minY, maxX, maxY, piece.margin, width, height);
      hash = HashBytes(hash, commands_.data() + piece.first,
                       (piece.end - piece.first) * sizeof(Command));
      if (piece.usesColor) hash = HashBytes(hash, piece.color, sizeof piece.color);
      if (piece.usesTexCoord) hash = HashBytes(hash, piece.texCoord, sizeof piece.texCoord);
      i = j;
    }
    const uint32_t* s = states_.data() + piece.state;
    piece.hash = HashBytes(hash, s, s[0] * sizeof(uint32_t));
    pieces_.push_back(piece);
  }
  width_ = width;
  height_ = height;
  analysed_ = !state.failed;
  return analysed_;
}

bool DrawList::SamePiece(const Piece& a, const DrawList& other, const Piece& b) const {
  if (a.hash != b.hash || a.end - a.first != b.end - b.first || a.usesColor != b.usesColor ||
      a.usesTexCoord != b.usesTexCoord) {
    return false;
  }
  if (a.usesColor && std::memcmp(a.color, b.color, sizeof a.color) != 0) return false;
  if (a.usesTexCoord && std::memcmp(a.texCoord, b.texCoord, sizeof a.texCoord) != 0) return false;
  if (!SameState(a, other, b)) return false;
  const Command& ca = commands_[a.first];
  const Command& cb = other.commands_[b.first];
  if (ca.op == kText) {
    Command ka = ca;
    Command kb = cb;
    ka.u[0] = kb.u[0] = 0;
    return std::memcmp(&ka, &kb, sizeof ka) == 0 &&
           std::memcmp(TextOf(ca), other.TextOf(cb), ca.u[1]) == 0;
  }
  return std::memcmp(&ca, &cb, (a.end - a.first) * sizeof(Command)) == 0;
}

bool DrawList::SameState(const Piece& a, const DrawList& other, const Piece& b) const {
  const uint32_t* sa = states_.data() + a.state;
  const uint32_t* sb = other.states_.data() + b.state;
  return sa[0] == sb[0] && std::memcmp(sa, sb, sa[0] * sizeof(uint32_t)) == 0;
}

// Two primitives of the same kind in the same state, one replacing the other: in a mode whose
// primitives are drawn each on its own (points, lines, triangles, quads), only the primitives
// whose vertices differ (position, colour or texture coordinate) change pixels, so only their
// rectangles are added. Otherwise both pieces' rectangles are.
void DrawList::AddChangedPrimitives(const Piece& a, const DrawList& other, const Piece& b,
                                    std::vector<Rect>* changed) const {
  auto addBoth = [&] {
    if (!Empty(a.box)) changed->push_back(a.box);
    if (!Empty(b.box)) changed->push_back(b.box);
  };
  const Command& ca = commands_[a.first];
  const Command& cb = other.commands_[b.first];
  if (ca.op != kBegin || cb.op != kBegin || ca.u[0] != cb.u[0] || !SameState(a, other, b)) {
    addBoth();
    return;
  }
  int perPrimitive = 0;
  switch (ca.u[0]) {
    case GL_POINTS: perPrimitive = 1; break;
    case GL_LINES: perPrimitive = 2; break;
    case GL_TRIANGLES: perPrimitive = 3; break;
    case GL_QUADS: perPrimitive = 4; break;
    default: addBoth(); return;
  }
  // Each list's vertices with the colour and coordinate current at each.
  struct Vertex {
    float position[3];
    float color[4];
    float texCoord[2];
  };
  auto vertices = [](const DrawList& list, const Piece& piece, std::vector<Vertex>* out) {
    Vertex v{};
    std::memcpy(v.color, piece.color, sizeof v.color);
    std::memcpy(v.texCoord, piece.texCoord, sizeof v.texCoord);
    for (uint32_t i = piece.first + 1; i + 1 < piece.end; ++i) {
      const Command& c = list.commands_[i];
      if (c.op == kColor) std::memcpy(v.color, c.f, sizeof v.color);
      if (c.op == kTexCoord) std::memcpy(v.texCoord, c.f, sizeof v.texCoord);
      if (c.op == kVertex) {
        std::memcpy(v.position, c.f, sizeof v.position);
        out->push_back(v);
      }
    }
  };
  std::vector<Vertex> va;
  std::vector<Vertex> vb;
  vertices(*this, a, &va);
  vertices(other, b, &vb);
  if (va.size() != vb.size()) {
    addBoth();
    return;
  }
  auto box = [&](const std::vector<Vertex>& v, size_t first) {
    float minX = v[first].position[0], maxX = minX;
    float minY = v[first].position[1], maxY = minY;
    for (size_t k = first + 1; k < first + perPrimitive; ++k) {
      minX = std::min(minX, v[k].position[0]);
      maxX = std::max(maxX, v[k].position[0]);
      minY = std::min(minY, v[k].position[1]);
      maxY = std::max(maxY, v[k].position[1]);
    }
    return Cover(minX, minY, maxX, maxY, a.margin, width_, height_);
  };
  const size_t whole = va.size() - va.size() % perPrimitive;  // an incomplete one draws nothing
  for (size_t first = 0; first < whole; first += perPrimitive) {
    if (std::memcmp(&va[first], &vb[first], perPrimitive * sizeof(Vertex)) == 0) continue;
    const Rect ra = box(va, first);
    const Rect rb = box(vb, first);
    if (!Empty(ra)) changed->push_back(ra);
    if (!Empty(rb)) changed->push_back(rb);
  }
}

bool DrawList::ChangedRegions(const DrawList& shown, std::vector<Rect>* changed) const {
  changed->clear();
  if (!analysed_ || !shown.analysed_) return false;
  const std::vector<Piece>& before = shown.pieces_;
  const std::vector<Piece>& now = pieces_;
  auto same = [&](size_t a, size_t b) { return SamePiece(now[a], shown, before[b]); };
  auto add = [&](const Rect& r) {
    if (!Empty(r)) changed->push_back(r);
  };
  // Pairs equal pieces in order: the common beginning and end, then, between them, each
  // piece with the next equal one a few pieces on (a piece added, removed or replaced); the
  // pieces left without a partner are the changes.
  size_t head = 0;
  while (head < now.size() && head < before.size() && same(head, head)) ++head;
  size_t tail = 0;
  while (tail < now.size() - head && tail < before.size() - head &&
         same(now.size() - 1 - tail, before.size() - 1 - tail)) {
    ++tail;
  }
  constexpr size_t kLookAhead = 16;
  size_t a = head;
  size_t b = head;
  const size_t aEnd = now.size() - tail;
  const size_t bEnd = before.size() - tail;
  while (a < aEnd && b < bEnd) {
    if (same(a, b)) {
      ++a;
      ++b;
      continue;
    }
    size_t k = 1;
    for (; k <= kLookAhead; ++k) {
      if (a + k < aEnd && same(a + k, b)) {
        for (size_t i = a; i < a + k; ++i) add(now[i].box);
        a += k;
        break;
      }
      if (b + k < bEnd && same(a, b + k)) {
        for (size_t i = b; i < b + k; ++i) add(before[i].box);
        b += k;
        break;
      }
    }
    if (k > kLookAhead) AddChangedPrimitives(now[a++], shown, before[b++], changed);
  }
  for (; a < aEnd; ++a) add(now[a].box);
  for (; b < bEnd; ++b) add(before[b].box);
  Merge(changed);
  return true;
}

void DrawList::Skip(const Piece& piece) const {
  if (commands_[piece.first].op == kText) {
    if (piece.textDrawn) {
      for (const Command& after : kTextAftermath) Execute(after, nullptr);
    }
    return;
  }
  if (piece.lastColor >= 0) Execute(commands_[piece.lastColor], nullptr);
  if (piece.lastTexCoord >= 0) Execute(commands_[piece.lastTexCoord], nullptr);
}

void DrawList::SubmitRegions(const std::vector<Rect>& rects,
                             const std::function<void(const Rect&)>& scissor) const {
  StartState();
  glEnable(GL_SCISSOR_TEST);
  for (const Rect& r : rects) {
    scissor(r);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  size_t next = 0;
  const uint32_t n = static_cast<uint32_t>(commands_.size());
  for (uint32_t i = 0; i < n;) {
    if (next == pieces_.size() || pieces_[next].first != i) {
      Execute(commands_[i], TextOf(commands_[i]));
      ++i;
      continue;
    }
    const Piece& piece = pieces_[next++];
    bool drawn = false;
    for (const Rect& r : rects) {
      if (!Overlap(piece.box, r)) continue;
      // Drawn again for another rectangle, the piece starts from the colour and coordinate
      // it started from the first time.
      if (piece.usesColor) glColor4fv(piece.color);
      if (piece.usesTexCoord) glTexCoord2fv(piece.texCoord);
      scissor(r);
      for (uint32_t k = piece.first; k < piece.end; ++k) Execute(commands_[k], TextOf(commands_[k]));
      drawn = true;
    }
    if (!drawn) Skip(piece);
    i = piece.end;
  }
  glDisable(GL_SCISSOR_TEST);
}

namespace draw {

void Begin(GLenum mode) { DrawList::Add(Make(kBegin, mode)); }
void End() { DrawList::Add(Make(kEnd)); }
void Vertex(float x, float y, float z) { DrawList::Add(Make(kVertex, 0, 0, x, y, z)); }
void TexCoord(float s, float t) { DrawList::Add(Make(kTexCoord, 0, 0, s, t)); }
void Color(float red, float green, float blue, float alpha) {
  DrawList::Add(Make(kColor, 0, 0, red, green, blue, alpha));
}
void Enable(GLenum capability) { DrawList::Add(Make(kEnable, capability)); }
void Disable(GLenum capability) { DrawList::Add(Make(kDisable, capability)); }
void BlendFunc(GLenum source, GLenum destination) {
  DrawList::Add(Make(kBlendFunc, source, destination));
}
void LineWidth(float width) { DrawList::Add(Make(kLineWidth, 0, 0, width)); }
void ShadeModel(GLenum mode) { DrawList::Add(Make(kShadeModel, mode)); }
void PolygonMode(GLenum face, GLenum mode) { DrawList::Add(Make(kPolygonMode, face, mode)); }
void BindTexture(GLuint texture) { DrawList::Add(Make(kBindTexture, texture)); }
void TextureFilter(GLenum filter) { DrawList::Add(Make(kTextureFilter, filter)); }
void Fogi(GLenum name, GLint value) {
  DrawList::Add(Make(kFogi, name, static_cast<uint32_t>(value)));
}
void Fogf(GLenum name, float value) { DrawList::Add(Make(kFogf, name, 0, value)); }
void FogColor(const float rgba[4]) {
  DrawList::Add(Make(kFogColor, 0, 0, rgba[0], rgba[1], rgba[2], rgba[3]));
}
void Hint(GLenum target, GLenum mode) { DrawList::Add(Make(kHint, target, mode)); }
void PushAttrib(GLbitfield mask) { DrawList::Add(Make(kPushAttrib, mask)); }
void PopAttrib() { DrawList::Add(Make(kPopAttrib)); }

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
  DrawList::Command c = Make(kText, 0, static_cast<uint32_t>(length), x, y);
  c.u[2] = (static_cast<uint32_t>(color.r) << 16) | (static_cast<uint32_t>(color.g) << 8) |
           color.b;
  c.p = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(font));
  DrawList::Add(c, text, length);
}

void ReleaseTextCache() { textCache.Release(); }

unsigned long TextUploads() { return textCache.Uploads(); }

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
        char colour[32];
        std::snprintf(colour, sizeof colour, " rgb(%u,%u,%u)", (c.u[2] >> 16) & 255u,
                      (c.u[2] >> 8) & 255u, c.u[2] & 255u);
        out += " " + fontName(reinterpret_cast<const TTF_Font*>(static_cast<uintptr_t>(c.p))) +
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
