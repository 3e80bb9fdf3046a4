#include "step_sequencer.h"

#include <cassert>

#include "common.h"
#include "draw_list.h"
#include "game_state.h"

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}

bool StepSequencer::Tick(double streamTime, Note* note) {
  if (!StepChange(streamTime)) return false;
  const int step = gameState.loopOptions.TimeToStep(streamTime);
  if (step < 0 || step >= static_cast<int>(kMaxSteps)) return false;
  const Step& s = steps_[step];
  if (!s.active.load(kRelaxed)) return false;
  note->offset = s.offset.load(kRelaxed);
  note->velocity = s.velocity.load(kRelaxed);
  return true;
}

void StepSequencer::AddNote(unsigned int step, int offset, double velocity) {
  assert(step < steps_.size());
  if (step >= steps_.size()) return;
  Step& s = steps_[step];
  s.offset.store(offset, kRelaxed);
  s.velocity.store(velocity, kRelaxed);
  s.active.store(true, kRelaxed);
}

void StepSequencer::RemoveNote(unsigned int step) {
  if (step >= steps_.size()) return;
  steps_[step].active.store(false, kRelaxed);
}

bool StepSequencer::IsActive(unsigned int step) const {
  return step < steps_.size() && steps_[step].active.load(kRelaxed);
}

Note StepSequencer::NoteAt(unsigned int step) const {
  Note note;
  if (step >= steps_.size()) return note;
  note.offset = steps_[step].offset.load(kRelaxed);
  note.velocity = steps_[step].velocity.load(kRelaxed);
  return note;
}

void StepSequencer::Draw(float x, float y, float w, float h, int rows) const {
  const int current = TimeToStep(gameState.clock->StreamTime());

  draw::Frame(x, y, w, h);

  const LoopOptions& loop = gameState.loopOptions;
  const int steps = loop.StepsPerLoop();
  const float cell = w / steps;

  draw::LineWidth(1.0f);
  draw::Color(0.2f, 0.2f, 0.2f);
  draw::Begin(GL_LINES);
  for (int i = 1; i < steps; ++i) {
    draw::Vertex(x + i * cell, y + 1);
    draw::Vertex(x + i * cell, y + h - 1);
  }
  draw::End();

  draw::Highlight(x + current * cell, y, cell, h, 0.25f);

  draw::LineWidth(3.0f);
  draw::ShadeModel(GL_SMOOTH);
  draw::Begin(GL_LINES);
  for (int i = 0; i < steps && i < static_cast<int>(kMaxSteps); ++i) {
    if (!IsActive(i)) continue;
    const Note note = NoteAt(i);
    const float sx = x + i * cell;
    const float v = static_cast<float>(note.velocity);
    const float ny = rows == -1 ? y + h * 0.5f : y + 3 + (note.offset + 0.5f) * (h - 6) / rows;
    const float green = v;
    const float red = i == current ? 0.0f : v;
    draw::Color(0.0f, 0.0f, 0.0f);
    draw::Vertex(sx, ny);
    draw::Color(red, green, 0.0f);
    draw::Vertex(sx + cell / 3, ny);
    draw::Vertex(sx + cell / 3, ny);
    draw::Vertex(sx + (cell + cell) / 3, ny);
    draw::Vertex(sx + (cell + cell) / 3, ny);
    draw::Color(0.0f, 0.0f, 0.0f);
    draw::Vertex(sx + cell, ny);
  }
  draw::End();
}
