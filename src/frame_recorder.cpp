#include "frame_recorder.h"

#include <SDL_opengl.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {
const struct {
  FrameRecorder::Keeper keeper;
  const char* name;
} kKeeperNames[] = {{FrameRecorder::Keeper::kBackBuffer, "back-buffer"},
                    {FrameRecorder::Keeper::kPicture, "off-screen"},
                    {FrameRecorder::Keeper::kNone, "none"}};
}  // namespace

bool FrameRecorder::KeeperNamed(const char* name, Keeper* keeper) {
  for (const auto& k : kKeeperNames) {
    if (std::strcmp(name, k.name) == 0) {
      *keeper = k.keeper;
      return true;
    }
  }
  return false;
}

const char* FrameRecorder::KeeperName(Keeper keeper) {
  for (const auto& k : kKeeperNames) {
    if (k.keeper == keeper) return k.name;
  }
  return "?";
}

void FrameRecorder::Attach(SDL_Window* window) {
  window_ = window;
  const bool mayCopy = !forced_ || keeper_ == Keeper::kBackBuffer;
  const bool mayKeepOffScreen = !forced_ || keeper_ == Keeper::kPicture;
  // The back buffer can keep the picture where its rectangles can be put on screen; the frame
  // check then draws its direct frames off screen.
  if (mayCopy && subBuffer_.Open() && (!check_ || picture_.Bind(kWidth, kHeight))) {
    keeper_ = Keeper::kBackBuffer;
  } else if (mayKeepOffScreen && picture_.Bind(kWidth, kHeight)) {
    keeper_ = Keeper::kPicture;
  } else {
    keeper_ = Keeper::kNone;
  }
  picture_.Unbind();
}

void FrameRecorder::BeginFrame() {
  next_.Clear();
  if (check_) {
    if (keeper_ == Keeper::kBackBuffer) picture_.Bind(kWidth, kHeight);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  next_.StartRecording(check_);
}

bool FrameRecorder::EndFrame() {
  DrawList::StopRecording();
  ++recorded_;
  if (check_) {
    if (keeper_ == Keeper::kBackBuffer) {
      // Off screen, upside down: the rows are turned to compare with the window's.
      direct_.resize(static_cast<size_t>(kWidth) * kHeight * 4);
      glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, direct_.data());
      picture_.Unbind();
      const size_t row = static_cast<size_t>(kWidth) * 4;
      for (int y = 0; y < kHeight / 2; ++y) {
        std::swap_ranges(direct_.begin() + y * row, direct_.begin() + (y + 1) * row,
                         direct_.begin() + (kHeight - 1 - y) * row);
      }
    } else {
      ReadBackBuffer(&direct_);
    }
  }
  bool show = invalid_;
  whole_ = true;
  if (show) {
    next_.Analyse(kWidth, kHeight);
  } else if (next_ != onScreen_) {
    // The frame differs: where?
    next_.Analyse(kWidth, kHeight);
    whole_ = !next_.ChangedRegions(onScreen_, &changed_);
    changedArea_ = 0;
    for (const DrawList::Rect& r : changed_) {
      changedArea_ += static_cast<long>(r.x1 - r.x0) * (r.y1 - r.y0);
    }
    if (changedArea_ > kMostOfWindow * kWidth * kHeight) whole_ = true;
    show = whole_ || !changed_.empty();
    // No pixel differs: the new list stands for the picture on screen.
    if (!show) std::swap(next_, onScreen_);
  }
  if (check_ && !show) {
    ++compared_;
    if (direct_ != screen_) ++differing_;
  }
  return show;
}

void FrameRecorder::Show() {
  const long window = static_cast<long>(kWidth) * kHeight;
  const bool inPlaces = keeper_ != Keeper::kNone && !whole_;
  if (keeper_ == Keeper::kPicture) picture_.Bind(kWidth, kHeight);
  if (inPlaces) {
    if (keeper_ == Keeper::kPicture) {
      next_.SubmitRegions(changed_, [this](const DrawList::Rect& r) {
        picture_.Scissor(r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
      });
    } else {
      next_.SubmitRegions(changed_, [](const DrawList::Rect& r) {
        glScissor(r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
      });
    }
  } else {
    glClear(GL_COLOR_BUFFER_BIT);
    next_.Submit();
  }
  lastShare_ = inPlaces ? static_cast<double>(changedArea_) / window : 1.0;

  switch (keeper_) {
    case Keeper::kBackBuffer:
      if (inPlaces) {
        for (const DrawList::Rect& r : changed_) {
          subBuffer_.Copy(r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0);
        }
      } else {
        subBuffer_.Copy(0, 0, kWidth, kHeight);
      }
      break;
    case Keeper::kPicture:
      picture_.Unbind();
      picture_.CopyToWindow();
      break;
    case Keeper::kNone:
      break;
  }
  if (check_) {
    ReadBackBuffer(&screen_);
    ++replayed_;
    if (screen_ != direct_) ++replayDiffering_;
  }
  if (keeper_ != Keeper::kBackBuffer && window_ != nullptr) SDL_GL_SwapWindow(window_);
  std::swap(next_, onScreen_);
  if (invalid_ && shown_ > 0) ++exposures_;
  invalid_ = false;
  ++shown_;
}

void FrameRecorder::ReadBackBuffer(std::vector<uint8_t>* pixels) const {
  pixels->resize(static_cast<size_t>(kWidth) * kHeight * 4);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels->data());
}

void FrameRecorder::PrintCheck(std::FILE* out) const {
  if (!check_) return;
  std::fprintf(out,
               "frame check: %ld skipped frames compared, %ld differing; %ld shown frames "
               "replayed, %ld differing; picture kept: %s; %ld redrawn after exposure\n",
               compared_, differing_, replayed_, replayDiffering_, KeeperName(keeper_),
               exposures_);
}
