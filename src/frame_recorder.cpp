#include "frame_recorder.h"

#include <SDL_opengl.h>

#include <utility>

void FrameRecorder::BeginFrame() {
  next_.Clear();
  if (check_) glClear(GL_COLOR_BUFFER_BIT);
  next_.StartRecording(check_);
}

bool FrameRecorder::EndFrame() {
  DrawList::StopRecording();
  ++recorded_;
  const bool show = invalid_ || next_ != onScreen_;
  if (check_) {
    ReadBackBuffer(&direct_);
    if (!show) {
      ++compared_;
      if (direct_ != screen_) ++differing_;
    }
  }
  return show;
}

void FrameRecorder::Show() {
  glClear(GL_COLOR_BUFFER_BIT);
  next_.Submit();
  std::swap(next_, onScreen_);
  invalid_ = false;
  ++shown_;
  if (check_) {
    ReadBackBuffer(&screen_);
    ++replayed_;
    if (screen_ != direct_) ++replayDiffering_;
  }
}

void FrameRecorder::ReadBackBuffer(std::vector<uint8_t>* pixels) {
  pixels->resize(800 * 600 * 4);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, 800, 600, GL_RGBA, GL_UNSIGNED_BYTE, pixels->data());
}

void FrameRecorder::PrintCheck(std::FILE* out) const {
  if (!check_) return;
  std::fprintf(out,
               "frame check: %ld skipped frames compared, %ld differing; %ld shown frames "
               "replayed, %ld differing\n",
               compared_, differing_, replayed_, replayDiffering_);
}
