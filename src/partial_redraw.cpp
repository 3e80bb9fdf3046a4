#include "partial_redraw.h"

#include <SDL_opengl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

using namespace draw_op;

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
  void Apply(const DrawCommand& c) {
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
PartialRedraw::Rect Cover(float minX, float minY, float maxX, float maxY, int margin, int width,
                     int height) {
  PartialRedraw::Rect r;
  r.x0 = std::max(0, static_cast<int>(std::floor(minX)) - margin);
  r.y0 = std::max(0, static_cast<int>(std::floor(minY)) - margin);
  r.x1 = std::min(width, static_cast<int>(std::ceil(maxX)) + margin);
  r.y1 = std::min(height, static_cast<int>(std::ceil(maxY)) + margin);
  if (r.x1 <= r.x0 || r.y1 <= r.y0) r = PartialRedraw::Rect{};
  return r;
}

bool Empty(const PartialRedraw::Rect& r) { return r.x1 <= r.x0 || r.y1 <= r.y0; }

long Area(const PartialRedraw::Rect& r) {
  return Empty(r) ? 0 : static_cast<long>(r.x1 - r.x0) * (r.y1 - r.y0);
}

bool Overlap(const PartialRedraw::Rect& a, const PartialRedraw::Rect& b) {
  return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

PartialRedraw::Rect Union(const PartialRedraw::Rect& a, const PartialRedraw::Rect& b) {
  return PartialRedraw::Rect{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1),
                        std::max(a.y1, b.y1)};
}

// Merges rectangles until none overlap; two that nearly fill their common bounding box are
// merged as well (one redraw costs less than two).
void Merge(std::vector<PartialRedraw::Rect>* rects) {
  constexpr long kWaste = 256;  // pixels a merge may add
  std::vector<PartialRedraw::Rect>& r = *rects;
  bool merged = true;
  while (merged) {
    merged = false;
    for (size_t i = 0; i < r.size(); ++i) {
      for (size_t j = i + 1; j < r.size();) {
        const PartialRedraw::Rect u = Union(r[i], r[j]);
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

void PartialRedraw::Clear() {
  analysed_ = false;
  pieces_.clear();
  states_.clear();
}

bool PartialRedraw::Analyse(RecordedCalls list, int width, int height) {
  pieces_.clear();
  states_.clear();
  analysed_ = false;
  StateTracker state;
  bool stateChanged = true;  // since the last piece's state was stored
  uint32_t stateAt = 0;      // where in states_ the last stored state starts
  const uint32_t n = static_cast<uint32_t>(list.commands.size());
  for (uint32_t i = 0; i < n && !state.failed; ++i) {
    const DrawCommand& c = list.commands[i];
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
      const TextCache::Entry& entry =
          TextTextures().Get(CommandFont(c), CommandColor(c), list.TextOf(c), c.u[1]);
      piece.end = i + 1;
      piece.textDrawn = entry.id != 0;
      if (piece.textDrawn) {
        piece.margin = kFillMargin;
        piece.box = Cover(c.f[0], c.f[1], c.f[0] + entry.width, c.f[1] + entry.height,
                          piece.margin, width, height);
        for (const DrawCommand& after : kTextAftermath) state.Apply(after);
        stateChanged = true;
      }
      DrawCommand key = c;
      key.u[0] = 0;  // where the characters lie in this list
      hash = HashBytes(Mix(hash, kText), &key, sizeof key);
      hash = HashBytes(hash, list.TextOf(c), c.u[1]);
    } else {
      const GLenum mode = c.u[0];
      if (mode > GL_POLYGON) return false;
      bool vertex = false;
      float minX = 0.0f, minY = 0.0f, maxX = 0.0f, maxY = 0.0f;
      uint32_t j = i + 1;
      for (; j < n && list.commands[j].op != kEnd; ++j) {
        const DrawCommand& v = list.commands[j];
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
      hash = HashBytes(hash, list.commands.data() + piece.first,
                       (piece.end - piece.first) * sizeof(DrawCommand));
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

bool PartialRedraw::SamePiece(RecordedCalls list, const Piece& a, const PartialRedraw& other,
                              RecordedCalls otherList, const Piece& b) const {
  if (a.hash != b.hash || a.end - a.first != b.end - b.first || a.usesColor != b.usesColor ||
      a.usesTexCoord != b.usesTexCoord) {
    return false;
  }
  if (a.usesColor && std::memcmp(a.color, b.color, sizeof a.color) != 0) return false;
  if (a.usesTexCoord && std::memcmp(a.texCoord, b.texCoord, sizeof a.texCoord) != 0) return false;
  if (!SameState(a, other, b)) return false;
  const DrawCommand& ca = list.commands[a.first];
  const DrawCommand& cb = otherList.commands[b.first];
  if (ca.op == kText) {
    DrawCommand ka = ca;
    DrawCommand kb = cb;
    ka.u[0] = kb.u[0] = 0;
    return std::memcmp(&ka, &kb, sizeof ka) == 0 &&
           std::memcmp(list.TextOf(ca), otherList.TextOf(cb), ca.u[1]) == 0;
  }
  return std::memcmp(&ca, &cb, (a.end - a.first) * sizeof(DrawCommand)) == 0;
}

bool PartialRedraw::SameState(const Piece& a, const PartialRedraw& other, const Piece& b) const {
  const uint32_t* sa = states_.data() + a.state;
  const uint32_t* sb = other.states_.data() + b.state;
  return sa[0] == sb[0] && std::memcmp(sa, sb, sa[0] * sizeof(uint32_t)) == 0;
}

// Two primitives of the same kind in the same state, one replacing the other: in a mode whose
// primitives are drawn each on its own (points, lines, triangles, quads), only the primitives
// whose vertices differ (position, colour or texture coordinate) change pixels, so only their
// rectangles are added. Otherwise both pieces' rectangles are.
void PartialRedraw::AddChangedPrimitives(RecordedCalls list, const Piece& a,
                                         const PartialRedraw& other, RecordedCalls otherList,
                                         const Piece& b, std::vector<Rect>* changed) const {
  auto addBoth = [&] {
    if (!Empty(a.box)) changed->push_back(a.box);
    if (!Empty(b.box)) changed->push_back(b.box);
  };
  const DrawCommand& ca = list.commands[a.first];
  const DrawCommand& cb = otherList.commands[b.first];
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
  auto vertices = [](RecordedCalls calls, const Piece& piece, std::vector<Vertex>* out) {
    Vertex v{};
    std::memcpy(v.color, piece.color, sizeof v.color);
    std::memcpy(v.texCoord, piece.texCoord, sizeof v.texCoord);
    for (uint32_t i = piece.first + 1; i + 1 < piece.end; ++i) {
      const DrawCommand& c = calls.commands[i];
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
  vertices(list, a, &va);
  vertices(otherList, b, &vb);
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

bool PartialRedraw::ChangedRegions(RecordedCalls list, const PartialRedraw& shown,
                                   RecordedCalls shownList, std::vector<Rect>* changed) const {
  changed->clear();
  if (!analysed_ || !shown.analysed_) return false;
  const std::vector<Piece>& before = shown.pieces_;
  const std::vector<Piece>& now = pieces_;
  auto same = [&](size_t a, size_t b) {
    return SamePiece(list, now[a], shown, shownList, before[b]);
  };
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
    if (k > kLookAhead) {
      AddChangedPrimitives(list, now[a++], shown, shownList, before[b++], changed);
    }
  }
  for (; a < aEnd; ++a) add(now[a].box);
  for (; b < bEnd; ++b) add(before[b].box);
  Merge(changed);
  return true;
}

void PartialRedraw::Skip(RecordedCalls list, const Piece& piece) {
  if (list.commands[piece.first].op == kText) {
    if (piece.textDrawn) {
      for (const DrawCommand& after : kTextAftermath) RunCommand(after, nullptr);
    }
    return;
  }
  if (piece.lastColor >= 0) RunCommand(list.commands[piece.lastColor], nullptr);
  if (piece.lastTexCoord >= 0) RunCommand(list.commands[piece.lastTexCoord], nullptr);
}

void PartialRedraw::SubmitRegions(RecordedCalls list, const std::vector<Rect>& rects,
                                  const std::function<void(const Rect&)>& scissor) const {
  StartCommandState();
  glEnable(GL_SCISSOR_TEST);
  for (const Rect& r : rects) {
    scissor(r);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  size_t next = 0;
  const uint32_t n = static_cast<uint32_t>(list.commands.size());
  for (uint32_t i = 0; i < n;) {
    if (next == pieces_.size() || pieces_[next].first != i) {
      RunCommand(list.commands[i], list.TextOf(list.commands[i]));
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
      for (uint32_t k = piece.first; k < piece.end; ++k) {
        RunCommand(list.commands[k], list.TextOf(list.commands[k]));
      }
      drawn = true;
    }
    if (!drawn) Skip(list, piece);
    i = piece.end;
  }
  glDisable(GL_SCISSOR_TEST);
}
