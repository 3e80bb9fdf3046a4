#include "wave_loop_pad.h"

#include <cassert>

#include "common.h"
#include "content_fonts.h"
#include "draw_list.h"
#include "game_state.h"
#include "pattern_input.h"

WaveLoopPad::WaveLoopPad(float x, float y, float w, float h, int rows, double minVelocity,
                         double pitchMultiplier, std::string sampleFile, double echoFeedback,
                         double echoSteps, bool oneShot, std::string name, double attackTime,
                         double decayTime, double sustainLevel, float sequencerHeight,
                         bool releaseOnStep)
    : MonoSoundPad(x, y, w, h),
      rows_(rows > 0 ? rows : 1),
      minVelocity_(minVelocity),
      pitchMultiplier_(pitchMultiplier),
      // Both readers open the file; a file that cannot be read throws stk::StkError here and
      // the caller reports it.
      wvIn_(sampleFile, false, true, GameState::kChunkThreshold, GameState::kChunkSize, true),
      loop_(sampleFile, false, true, GameState::kChunkThreshold, GameState::kChunkSize, true),
      adsr_(),
      sequencer_(),
      echoSteps_(echoSteps),
      oneShot_(oneShot),
      name_(name),
      sequencerHeight_(sequencerHeight),
      releaseOnStep_(releaseOnStep),
      echoIndex_(0),
      echoOffset_(0),
      echoFeedback_(echoFeedback) {
  // The decay rate is derived from the sustain level in force when it is set, which is still
  // the envelope's default here. The release keeps the envelope's default rate.
  adsr_.setAttackTime(attackTime);
  adsr_.setDecayTime(decayTime);
  adsr_.setSustainLevel(sustainLevel);
  echoBuffer_.fill(0.0);
}

void WaveLoopPad::StartNote(int row, double velocity, bool fromSequencer) {
  adsr_.keyOn();
  wvIn_.reset();
  adsr_.setAttackTarget(velocity);
  // A one-shot hit entered by a click keeps the sustain level it had; one replayed by the
  // sequencer sustains at its own velocity.
  if (releaseOnStep_ || (fromSequencer && oneShot_)) adsr_.setSustainLevel(velocity);
  loop_.setFrequency(gameState.loopOptions.chord.Current().GetFrequency(row) * pitchMultiplier_);
}

void WaveLoopPad::MonoAudioCallback(double* buffer, unsigned int nFrames, double streamTime) {
  Note clicked;
  if (ApplyPointerToPattern(*this, PointerAxes{false, Rows(), minVelocity_}, streamTime,
                            sequencer_, &clicked)) {
    StartNote(clicked.offset, clicked.velocity, false);
  }

  Note note;
  if (sequencer_.Tick(streamTime, &note)) {
    StartNote(note.offset, note.velocity, true);
  } else if (releaseOnStep_ && StepChange(streamTime)) {
    adsr_.keyOff();
  }

  const int64_t offset = StepsToSamples(echoSteps_);
  assert(offset < kMaxEchoBufferSize && "echoOffset_ < kMaxEchoBufferSize");
  // Keep the read position inside the history even if the loop settings ever ask for more.
  echoOffset_ = static_cast<int>(offset < 0 ? 0
                                 : offset >= kMaxEchoBufferSize ? kMaxEchoBufferSize - 1
                                                                : offset);

  for (unsigned int i = 0; i < nFrames; ++i) {
    double s = oneShot_ ? wvIn_.tick() : loop_.tick();
    s *= adsr_.tick();
    int readIndex = echoIndex_ - echoOffset_;
    if (readIndex < 0) readIndex += kMaxEchoBufferSize;
    s = echoBuffer_[readIndex] * echoFeedback_ + s;
    buffer[i] = s;
    echoBuffer_[echoIndex_] = s;
    echoIndex_ = (echoIndex_ + 1) % kMaxEchoBufferSize;
  }
}

void WaveLoopPad::Draw() {
  draw::Disable(GL_BLEND);
  draw::Frame(x, y, width, height);

  // A one-shot pad has a single row; the count is derived, never stored, so drawing writes
  // nothing the audio thread reads.
  const int rows = Rows();
  draw::Enable(GL_BLEND);
  draw::BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  const float rowHeight = height / rows;
  const bool leftHeld = MouseLeftButton();
  draw::Begin(GL_QUADS);
  for (int i = 0; i < rows; ++i) {
    const float rowY = y + i * rowHeight;
    float alpha = 0.0f;
    if (MouseWithin(x, rowY, width, rowHeight)) {
      alpha += 0.025f;
      if (leftHeld) alpha += 0.05f;
    }
    if (i % 2 == 0 && !oneShot_) alpha += 0.1f;
    draw::Color(1.0f, 1.0f, 1.0f, alpha);
    draw::QuadVertices(x, rowY, x + width, rowY + rowHeight);
  }
  draw::End();

  if (!oneShot_) {
    int notes = gameState.loopOptions.chord.Snapshot().NoteCount();
    if (notes < 1) notes = 1;
    draw::Color(1.0f, 1.0f, 1.0f, 0.133f);
    draw::Begin(GL_QUADS);
    for (int i = 0; i < rows; i += notes) {
      const float rowY = y + i * rowHeight;
      draw::QuadVertices(x, rowY, x + width, rowY + rowHeight);
    }
    draw::End();
  }

  RenderText(content.smallFont, SDL_Color{255, 255, 255, 0},
             x + width * 0.5f - 3.0f * static_cast<float>(name_.length()), y + height + 2.0f,
             name_);
  sequencer_.Draw(x, y - sequencerHeight_, width, sequencerHeight_, oneShot_ ? -1 : rows_);
}
