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
  bool show = invalid_;
  if (!show && next_ != onScreen_) {
    // The frame differs: where?
    next_.Analyse(kWidth, kHeight);
    whole_ = !next_.ChangedRegions(onScreen_, &changed_);
    changedArea_ = 0;
    for (const DrawList::Rect& r : changed_) changedArea_ += static_cast<long>(r.x1 - r.x0) * (r.y1 - r.y0);
    if (changedArea_ > kMostOfWindow * kWidth * kHeight) whole_ = true;
    show = whole_ || !changed_.empty();
    // No pixel differs: the new list stands for the picture on screen.
    if (!show) std::swap(next_, onScreen_);
  } else if (show) {
    next_.Analyse(kWidth, kHeight);
    whole_ = true;
  }
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
  // Drawn in places only into the picture kept off screen; in full wherever that is missing.
  const bool kept = picture_.Bind(kWidth, kHeight);
  const long window = static_cast<long>(kWidth) * kHeight;
  long area = window;
  if (kept && !whole_) {
    next_.SubmitRegions(changed_, [this](const DrawList::Rect& r) {
      picture_.Scissor(r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
    });
    area = changedArea_;
  } else {
    glClear(GL_COLOR_BUFFER_BIT);
    next_.Submit();
  }
  if (kept) {
    picture_.Unbind();
    picture_.CopyToWindow();
  }
  lastShare_ = static_cast<double>(area) / static_cast<double>(window);
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
  pixels->resize(static_cast<size_t>(kWidth) * kHeight * 4);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels->data());
}

void FrameRecorder::PrintCheck(std::FILE* out) const {
  if (!check_) return;
  std::fprintf(out,
               "frame check: %ld skipped frames compared, %ld differing; %ld shown frames "
               "replayed, %ld differing\n",
               compared_, differing_, replayed_, replayDiffering_);
}
