#include "chord_change_pad.h"

#include <array>
#include <cassert>

#include "common.h"
#include "content_fonts.h"
#include "draw_list.h"
#include "game_state.h"
#include "pointer_sample.h"

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kRows = 12;

struct ChordShape {
  const char* name;
  int count;
  std::array<int, 7> offsets;
};

// Indexed by ChordType.
constexpr std::array<ChordShape, ChordChangePad::kChordTypes> kShapes{{
    {"MajorScale", 7, {0, 2, 4, 5, 7, 9, 11}},
    {"MinorScale", 7, {0, 2, 3, 5, 7, 8, 11}},
    {"Pentatonic", 5, {0, 2, 5, 7, 9}},
    {"WholeTone", 6, {0, 2, 4, 6, 8, 10}},
    {"Blues", 6, {0, 3, 5, 6, 7, 10}},
    {"MajorChord", 3, {0, 4, 7}},
    {"MinorChord", 3, {0, 3, 7}},
    {"Major7", 4, {0, 4, 7, 11}},
    {"Minor7", 4, {0, 3, 7, 10}},
    {"Dominant7", 4, {0, 4, 7, 10}},
    {"Sus4", 3, {0, 5, 7}},
    {"SingleNote", 1, {0}},
}};

constexpr std::array<const char*, kRows> kNoteNames{"C",  "C#", "D",  "D#", "E",  "F",
                                                    "F#", "G",  "G#", "A",  "A#", "B"};

bool ValidType(int type) { return type >= 0 && type < ChordChangePad::kChordTypes; }
}  // namespace

ChordChangePad::ChordChangePad(float x, float y, float width, float height, int count)
    : SoundlessSoundPad(x, y, width, height),
      count_(count > 0 ? count : 0),
      chords_(new AtomicEntry[count_ > 0 ? count_ : 1]),
      // The first loop start installs entry 1; a one-entry progression can only repeat entry 0.
      nextChord_(count_ > 0 ? 1 % count_ : 0) {
  gameState.loopOptions.chord.Install(SequencedChordToChord({kBaseKey, MajorScale}));
}

NoteChord ChordChangePad::SequencedChordToChord(SequencedChord chord) {
  NoteChord result(chord.root, 12);
  assert(ValidType(chord.type));
  // A chord must hold a note; an impossible type falls back to the root alone.
  const ChordShape& shape = kShapes[ValidType(chord.type) ? chord.type : SingleNote];
  for (int i = 0; i < shape.count; ++i) result.AddNote(shape.offsets[i]);
  return result;
}

std::string ChordChangePad::ChordTypeString(ChordType type) {
  assert(ValidType(type));
  return ValidType(type) ? kShapes[type].name : "";
}

std::string ChordChangePad::IndexToNoteName(int index) {
  assert(index >= 0 && index < kRows);
  return index >= 0 && index < kRows ? kNoteNames[index] : "";
}

ChordChangePad::SequencedChord ChordChangePad::Entry(int k) const {
  assert(k >= 0 && k < count_);
  if (k < 0 || k >= count_) return {kBaseKey, Minor7};
  const int type = chords_[k].type.load(kRelaxed);
  return {chords_[k].root.load(kRelaxed), static_cast<ChordType>(type)};
}

bool ChordChangePad::IsCurrent(int k) const {
  return count_ > 0 && (k + 1) % count_ == nextChord_.load(kRelaxed);
}

void ChordChangePad::Install(int k) {
  if (k < 0 || k >= count_) return;
  gameState.loopOptions.chord.Install(SequencedChordToChord(Entry(k)));
}

void ChordChangePad::UpdateCallback(double streamTime) {
  HandleInput(streamTime);
  if (count_ == 0) return;
  if (StepChange(streamTime) && TimeToStep(streamTime) == 0) {
    const int next = nextChord_.load(kRelaxed);
    Install(next);
    nextChord_.store((next + 1) % count_, kRelaxed);
  }
}

void ChordChangePad::HandleInput(double /*streamTime*/) {
  if (count_ == 0) return;
  const float sw = width / static_cast<float>(count_);
  const float rw = sw * 0.25f;
  for (int i = 0; i < ClickCount(); ++i) {
    const Click& click = ClickAt(i);
    if (click.right || !PointWithin(click.x, click.y, x, y, width, height)) continue;
    // Cells are half-open: a point on the line between two cells belongs to the one to its
    // right or above, so every click edits exactly one entry; the pad's own right and top
    // edges belong to the last cells.
    const int k = clamp(static_cast<int>((click.x - x) * count_ / width), 0, count_ - 1);
    const int r = clamp(static_cast<int>((click.y - y) * kRows / height), 0, kRows - 1);
    if (click.x < x + k * sw + rw) {
      chords_[k].root.store(kBaseKey + r, kRelaxed);
    } else {
      chords_[k].type.store(r, kRelaxed);
    }
    if (IsCurrent(k)) Install(k);
  }
}

void ChordChangePad::Draw() {
  draw::Frame(x, y, width, height);
  for (int k = 0; k < count_; ++k) DrawSegment(k);
}

void ChordChangePad::DrawSegment(int k) {
  if (k < 0 || k >= count_) return;
  const float sw = width / static_cast<float>(count_);
  const float rh = static_cast<float>(height / 12.0);
  const float rw = sw * 0.25f;
  const float tw = (3.0f * sw) * 0.25f;
  const float sx = k * sw + x;
  const SequencedChord entry = Entry(k);
  const SDL_Color white{255, 255, 255, 0};

  if (IsCurrent(k)) draw::Highlight(sx, y, sw, height, 0.2f);

  for (int r = 0; r < kRows; ++r) {
    const float rowY = r * rh + y;
    RenderText(content.smallFont, white, 0.125f * sw + sx - 2.0f, rowY + 2.0f,
               IndexToNoteName(r));
    if (MouseWithin(sx, rowY, rw, rh)) draw::Highlight(sx, rowY, rw, rh, 0.2f);
    if (r == entry.root - kBaseKey) draw::Highlight(sx, rowY, rw, rh, 0.3f);
  }

  const float tx = rw + sx;
  for (int r = 0; r < kRows; ++r) {
    const float rowY = r * rh + y;
    RenderText(content.smallFont, white, tx + 4.0f, rowY + 2.0f,
               ChordTypeString(static_cast<ChordType>(r)));
    if (MouseWithin(tx, rowY, tw, rh)) draw::Highlight(tx, rowY, tw, rh, 0.2f);
    if (r == entry.type) draw::Highlight(tx, rowY, tw, rh, 0.3f);
  }
}
