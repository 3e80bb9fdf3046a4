// Where two frames' draw lists can differ in pixels: the rectangles must cover every changed
// piece (or the frame is redrawn whole), and stay off what did not change. Lists are only
// recorded and analysed here, never drawn, so no display is needed (texts, whose size comes
// from their texture, are left to the end-to-end frame check). Also which frames the frame loop
// draws, and the text cache's eviction; with no OpenGL context here, OpenGL's calls do nothing.

#include <SDL_ttf.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "draw_list.h"
#include "frame_recorder.h"
#include "text_cache.h"

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

void Record(DrawList* list, const std::function<void()>& drawing) {
  list->Clear();
  list->StartRecording(false);
  drawing();
  DrawList::StopRecording();
}

void Quad(float x, float y, float w, float h, float red) {
  draw::Color(red, 0.0f, 0.0f);
  draw::Begin(GL_QUADS);
  draw::QuadVertices(x, y, x + w, y + h);
  draw::End();
}

bool Covers(const std::vector<DrawList::Rect>& rects, int x, int y) {
  for (const DrawList::Rect& r : rects) {
    if (x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1) return true;
  }
  return false;
}

// Analyses both lists and returns the rectangles where `after` differs from `before`; fails
// the test when the analysis gives up.
std::vector<DrawList::Rect> Changes(const std::function<void()>& before,
                                    const std::function<void()>& after) {
  DrawList shown;
  DrawList next;
  Record(&shown, before);
  Record(&next, after);
  EXPECT_TRUE(shown.Analyse(kWidth, kHeight));
  EXPECT_TRUE(next.Analyse(kWidth, kHeight));
  std::vector<DrawList::Rect> rects;
  EXPECT_TRUE(next.ChangedRegions(shown, &rects));
  return rects;
}

// Three quads side by side; the one at index `changed` red 1 instead of 0.5.
std::function<void()> Row(int changed) {
  return [changed] {
    for (int i = 0; i < 3; ++i) Quad(100.0f + 200.0f * i, 100.0f, 50.0f, 50.0f, i == changed ? 1.0f : 0.5f);
  };
}

TEST(DrawListRegions, EqualListsChangeNothingAndOneChangedPieceOnlyItsOwnPixels) {
  EXPECT_TRUE(Changes(Row(-1), Row(-1)).empty());

  const std::vector<DrawList::Rect> rects = Changes(Row(-1), Row(1));
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_TRUE(Covers(rects, 300, 100));  // the changed quad's corners
  EXPECT_TRUE(Covers(rects, 349, 149));
  EXPECT_FALSE(Covers(rects, 125, 125));  // its neighbours
  EXPECT_FALSE(Covers(rects, 525, 125));
  EXPECT_LT(rects[0].x1 - rects[0].x0, 60);

  // Lists are equal only with equal texts: a label's new characters are a new frame.
  DrawList before, after;
  TTF_Font* font = reinterpret_cast<TTF_Font*>(&before);  // never rendered here
  Record(&before, [font] { draw::Text(font, SDL_Color{255, 255, 255, 0}, 10, 10, "512", 3); });
  Record(&after, [font] { draw::Text(font, SDL_Color{255, 255, 255, 0}, 10, 10, "256", 3); });
  EXPECT_FALSE(before == after);
}

TEST(DrawListRegions, AddedAndRemovedPiecesAreCoveredWherePiecesShiftPlaces) {
  auto without = [] {
    Quad(100, 100, 50, 50, 0.5f);
    Quad(500, 100, 50, 50, 0.5f);
  };
  auto with = [] {
    Quad(100, 100, 50, 50, 0.5f);
    Quad(300, 300, 20, 20, 1.0f);
    Quad(500, 100, 50, 50, 0.5f);
  };
  // A translucent highlight drawn twice, then once: the one removed last is covered too.
  auto twice = [] {
    Quad(100, 100, 50, 50, 0.5f);
    draw::Highlight(300, 300, 20, 20, 0.2f);
    draw::Highlight(300, 300, 20, 20, 0.2f);
  };
  auto once = [] {
    Quad(100, 100, 50, 50, 0.5f);
    draw::Highlight(300, 300, 20, 20, 0.2f);
  };
  EXPECT_TRUE(Covers(Changes(twice, once), 310, 310));
  for (const auto& rects : {Changes(without, with), Changes(with, without)}) {
    EXPECT_TRUE(Covers(rects, 310, 310));
    EXPECT_FALSE(Covers(rects, 125, 125));
    EXPECT_FALSE(Covers(rects, 525, 125));
  }
}

TEST(DrawListRegions, StateReachesLaterPiecesOnlyWhereTheyUseIt) {
  // A piece that takes the current colour from before it changes with that colour; one that
  // sets its own colour before its first vertex does not.
  auto scene = [](float flash) {
    return [flash] {
      draw::Enable(GL_BLEND);
      draw::Color(1.0f, 1.0f, 1.0f, flash);
      draw::Begin(GL_QUADS);
      draw::QuadVertices(10, 10, 60, 60);
      draw::End();
      Quad(300, 300, 40, 40, 0.5f);  // own colour
      draw::Begin(GL_QUADS);         // current colour, left by the quad before
      draw::QuadVertices(600, 300, 640, 340);
      draw::End();
    };
  };
  std::vector<DrawList::Rect> rects = Changes(scene(0.2f), scene(0.4f));
  EXPECT_TRUE(Covers(rects, 30, 30));
  EXPECT_FALSE(Covers(rects, 320, 320));
  EXPECT_FALSE(Covers(rects, 620, 320));

  // A state switched on before a piece changes it, and every later piece drawn in that state.
  auto blending = [](bool on) {
    return [on] {
      Quad(10, 10, 50, 50, 0.5f);
      if (on) draw::Enable(GL_BLEND);
      Quad(300, 300, 40, 40, 0.5f);
      Quad(600, 300, 40, 40, 0.5f);
    };
  };
  rects = Changes(blending(false), blending(true));
  EXPECT_FALSE(Covers(rects, 30, 30));
  EXPECT_TRUE(Covers(rects, 320, 320));
  EXPECT_TRUE(Covers(rects, 620, 320));
}

TEST(DrawListRegions, PushAndPopOfTheWholeStateEndTheReachOfAChange) {
  auto pads = [](float width) {
    return [width] {
      draw::PushAttrib(GL_ALL_ATTRIB_BITS);
      draw::LineWidth(width);
      draw::Color(1, 1, 1);
      draw::Begin(GL_LINES);
      draw::Vertex(100, 100);
      draw::Vertex(200, 100);
      draw::End();
      draw::PopAttrib();
      draw::Begin(GL_LINES);  // after the pop: the colour and width of before the push
      draw::Vertex(100, 400);
      draw::Vertex(200, 400);
      draw::End();
    };
  };
  const std::vector<DrawList::Rect> rects = Changes(pads(1.0f), pads(5.0f));
  EXPECT_TRUE(Covers(rects, 150, 103));  // the wide line reaches beyond its vertices
  EXPECT_FALSE(Covers(rects, 150, 400));
}

TEST(DrawListRegions, InOneLineListOnlyTheChangedSegmentsCount) {
  // A step strip: sixteen notes in one Begin(GL_LINES), the playing one coloured.
  auto strip = [](int playing) {
    return [playing] {
      draw::LineWidth(3.0f);
      draw::Begin(GL_LINES);
      for (int i = 0; i < 16; ++i) {
        draw::Color(i == playing ? 0.0f : 1.0f, 1.0f, 0.0f);
        draw::Vertex(20.0f + 10.0f * i, 50.0f);
        draw::Vertex(27.0f + 10.0f * i, 50.0f);
      }
      draw::End();
    };
  };
  const std::vector<DrawList::Rect> rects = Changes(strip(3), strip(4));
  EXPECT_TRUE(Covers(rects, 53, 50));
  EXPECT_TRUE(Covers(rects, 63, 50));
  EXPECT_FALSE(Covers(rects, 23, 50));
  EXPECT_FALSE(Covers(rects, 41, 50));  // the changed segments' neighbours
  EXPECT_FALSE(Covers(rects, 75, 50));
  EXPECT_FALSE(Covers(rects, 103, 50));
  EXPECT_FALSE(Covers(rects, 173, 50));

  // A strip (a line strip joins its vertices) changes as a whole.
  auto joined = [](float y) {
    return [y] {
      draw::Begin(GL_LINE_STRIP);
      draw::Vertex(20, 50);
      draw::Vertex(100, y);
      draw::Vertex(180, 50);
      draw::End();
    };
  };
  EXPECT_TRUE(Covers(Changes(joined(50), joined(60)), 175, 50));

  // A segment whose end alone moved is covered, its neighbour not.
  auto ends = [](float end) {
    return [end] {
      draw::Begin(GL_LINES);
      draw::Vertex(20, 100);
      draw::Vertex(60, 100);
      draw::Vertex(100, 100);
      draw::Vertex(end, 100);
      draw::End();
    };
  };
  const std::vector<DrawList::Rect> moved = Changes(ends(140), ends(180));
  EXPECT_TRUE(Covers(moved, 175, 100));
  EXPECT_FALSE(Covers(moved, 40, 100));
}

TEST(DrawListRegions, RectanglesAreDisjointAndInsideTheWindow) {
  auto scatter = [](float shift) {
    return [shift] {
      Quad(-30 + shift, -30, 60, 60, 0.5f);
      Quad(20 + shift, 20, 60, 60, 0.5f);
      Quad(780 + shift, 580, 60, 60, 0.5f);
    };
  };
  const std::vector<DrawList::Rect> rects = Changes(scatter(0), scatter(5));
  ASSERT_FALSE(rects.empty());
  for (size_t i = 0; i < rects.size(); ++i) {
    const DrawList::Rect& a = rects[i];
    EXPECT_GE(a.x0, 0);
    EXPECT_GE(a.y0, 0);
    EXPECT_LE(a.x1, kWidth);
    EXPECT_LE(a.y1, kHeight);
    for (size_t j = i + 1; j < rects.size(); ++j) {
      const DrawList::Rect& b = rects[j];
      EXPECT_FALSE(a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1);
    }
  }
  // Two changes whose rectangles meet only at a corner stay apart: their bounding box would
  // redraw twice their area.
  auto corner = [](float red) {
    return [red] {
      Quad(100, 100, 50, 50, red);
      Quad(152, 152, 50, 50, red);
    };
  };
  const std::vector<DrawList::Rect> apart = Changes(corner(0.5f), corner(1.0f));
  EXPECT_EQ(apart.size(), 2u);
  EXPECT_FALSE(Covers(apart, 175, 125));
}

TEST(DrawListRegions, ListsTheAnalysisDoesNotFollowAreRedrawnWhole) {
  const std::vector<std::function<void()>> unfollowed = {
      [] { draw::PopAttrib(); },                       // nothing pushed
      [] {                                             // only part of the state pushed
        draw::PushAttrib(GL_CURRENT_BIT);
        draw::PopAttrib();
      },
      [] { draw::Begin(GL_QUADS); },                   // never ended
      [] { draw::Vertex(1, 1); },                      // outside Begin ... End
      [] { draw::Enable(GL_SCISSOR_TEST); },           // the redraw's own clipping
      [] {
        draw::Begin(GL_QUADS);
        draw::Enable(GL_BLEND);                        // not allowed inside
        draw::End();
      },
  };
  DrawList plain;
  Record(&plain, [] { Quad(10, 10, 10, 10, 1.0f); });
  ASSERT_TRUE(plain.Analyse(kWidth, kHeight));
  for (const auto& drawing : unfollowed) {
    DrawList list;
    Record(&list, drawing);
    EXPECT_FALSE(list.Analyse(kWidth, kHeight));
    std::vector<DrawList::Rect> rects;
    EXPECT_FALSE(list.ChangedRegions(plain, &rects));
    EXPECT_FALSE(plain.ChangedRegions(list, &rects));
  }
}

TEST(DrawListRegions, AFilterChangeReachesLaterDrawingWithTheTexture) {
  auto sprite = [](GLenum filter) {
    return [filter] {
      draw::BindTexture(7);
      draw::TextureFilter(filter);
      draw::Enable(GL_TEXTURE_2D);
      Quad(100, 100, 50, 50, 1.0f);
      draw::Disable(GL_TEXTURE_2D);
    };
  };
  EXPECT_TRUE(Covers(Changes(sprite(GL_NEAREST), sprite(GL_LINEAR)), 125, 125));
}

// Nothing keeps the picture here (no context), so a frame is either drawn whole or skipped: the
// first, a changed one and any after exposure are drawn, an unchanged one never.
TEST(FrameRecorderTest, DrawsTheFirstAChangedAndAnExposedFrameOnly) {
  FrameRecorder recorder;
  recorder.Attach(nullptr);
  const std::function<void()> unfollowed = [] {
    draw::PushAttrib(GL_CURRENT_BIT);
    Quad(10, 10, 10, 10, 1.0f);
    draw::PopAttrib();
  };
  const struct {
    const char* what;
    bool exposed;
    std::function<void()> drawing;
    bool drawn;
  } frames[] = {
      {"the first frame", false, Row(-1), true},
      {"the same frame", false, Row(-1), false},
      {"the same frame after exposure", true, Row(-1), true},
      {"the same frame once more", false, Row(-1), false},
      {"one quad changed", false, Row(1), true},
      {"a list the analysis does not follow", false, unfollowed, true},
      {"that list again", false, unfollowed, false},
  };
  for (const auto& f : frames) {
    if (f.exposed) recorder.Invalidate();
    recorder.BeginFrame();
    f.drawing();
    const bool drawn = recorder.EndFrame();
    if (drawn) recorder.Show();
    EXPECT_EQ(drawn, f.drawn) << f.what;
  }
}

// Texts are told apart by font, colour and characters, and the least recently used one is
// evicted when a new text would pass the capacity (rendered with the game's font; every
// upload is counted though no texture can be made here); a recorded text is rendered in the
// colour it was drawn in.
TEST(TextCacheTest, EvictsTheLeastRecentlyUsedTextBeyondItsCapacity) {
  ASSERT_EQ(TTF_Init(), 0) << TTF_GetError();
  TTF_Font* font = TTF_OpenFont(MARLUNE_RESOURCES_DIR "/MarluneContent/font/segoeuimono.ttf", 10);
  ASSERT_NE(font, nullptr) << TTF_GetError();
  TextCache cache;
  const auto uploads = [&](int number, SDL_Color color = SDL_Color{255, 255, 255, 0}) {
    const std::string text = std::to_string(number);
    const unsigned long before = cache.Uploads();
    cache.Get(font, color, text.data(), text.size());
    return cache.Uploads() - before;
  };
  const int capacity = static_cast<int>(TextCache::kCapacity);
  for (int i = 0; i < capacity; ++i) ASSERT_EQ(uploads(i), 1u) << i;
  EXPECT_EQ(uploads(0), 0u) << "a cached text is not rendered again";
  EXPECT_EQ(uploads(capacity), 1u) << "a new text past the capacity";
  EXPECT_EQ(uploads(0), 0u) << "the most recently used text was evicted";
  EXPECT_EQ(uploads(1), 1u) << "the least recently used text was kept beyond the capacity";
  EXPECT_EQ(uploads(3, SDL_Color{255, 255, 254, 0}), 1u) << "another blue, another texture";
  TTF_Font* larger = TTF_OpenFont(MARLUNE_RESOURCES_DIR "/MarluneContent/font/segoeuimono.ttf", 12);
  ASSERT_NE(larger, nullptr) << TTF_GetError();
  const unsigned long before = cache.Uploads();
  EXPECT_GT(cache.Get(larger, SDL_Color{255, 255, 255, 0}, "0", 1).width, 0) << "the 0 rendered";
  EXPECT_EQ(cache.Uploads() - before, 1u) << "another font, another texture";
  // A recorded text is rendered in its own colour, every channel in its place.
  DrawList list;
  Record(&list, [font] { draw::Text(font, SDL_Color{10, 20, 30, 0}, 0, 0, "3", 1); });
  list.Analyse(kWidth, kHeight);  // renders the list's texts to measure them
  const unsigned long drawn = draw::TextUploads();
  TextTextures().Get(font, SDL_Color{10, 20, 30, 0}, "3", 1);
  EXPECT_EQ(draw::TextUploads(), drawn) << "the recorded text was rendered in another colour";
  // Recorded with drawing asked for (the frame check's direct picture), a text is drawn as it
  // is recorded.
  DrawList direct;
  direct.StartRecording(true);
  draw::Text(font, SDL_Color{40, 50, 60, 0}, 0, 0, "4", 1);
  DrawList::StopRecording();
  EXPECT_EQ(draw::TextUploads(), drawn + 1) << "a text recorded with drawing asked for not drawn";
  draw::ReleaseTextCache();
  cache.Release();
  TTF_CloseFont(larger);
  TTF_CloseFont(font);
  TTF_Quit();
}

}  // namespace
