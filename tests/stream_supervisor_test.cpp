// The audio stream: telling a lost stream from a hiccup, pacing the attempts to reopen it, and
// how many buffers it is opened with.

#include <gtest/gtest.h>

#include <string>

#include "game_state.h"
#include "stream_supervisor.h"

namespace {

using Action = StreamSupervisor::Action;

TEST(StreamSupervisorTest, ErrorsInARowMeanTheStreamIsLost) {
  const struct {
    const char* what;
    bool started;        // Starting() before the events
    const char* events;  // b: a buffer begins, w: the library warns, f: a fatal error, s: stopped
    const char* fates;   // each buffer's fate: P play, U unrecorded, S stop
    bool lost;           // Poll then says to close the stream, and later to retry
  } cases[] = {
      {"an underrun: one failed write, then clean buffers", true, "bwbb", "PUP", false},
      {"writes failing now and then", true, "bwbwbbwbwbbwbb", "PUUPUUPUP", false},
      {"a server gone: every write fails", true, "bwbwbwbwbb", "PUUUSS", true},
      {"a fatal error", true, "bfb", "PS", true},
      {"errors while no stream runs", false, "wwwwf", "", false},
      {"a stream closed on purpose before the loss was seen", true, "fs", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StreamSupervisor supervisor;
    if (c.started) supervisor.Starting();
    std::string fates;
    for (const char* e = c.events; *e != '\0'; ++e) {
      if (*e == 'b') fates += "PUS"[static_cast<int>(supervisor.BeginBuffer())];
      if (*e == 'w') supervisor.ReportError(false, "audio write error, Connection terminated.");
      if (*e == 'f') supervisor.ReportError(true, "thread failed");
      if (*e == 's') supervisor.Stopped();
    }
    EXPECT_EQ(fates, c.fates);
    EXPECT_EQ(supervisor.Poll(0) == Action::kClose, c.lost);
    EXPECT_EQ(supervisor.Poll(60000) == Action::kRetry, c.lost);
  }
}

TEST(StreamSupervisorTest, RetriesOnceASecondUntilTheStreamStartsAgain) {
  for (uint32_t lostAt : {5000u, 0xFFFFFF00u}) {  // the millisecond clock may wrap
    SCOPED_TRACE(lostAt);
    StreamSupervisor supervisor;
    supervisor.Starting();
    supervisor.ReportError(true, "Connection terminated.");
    EXPECT_EQ(supervisor.Poll(lostAt), Action::kClose);
    EXPECT_STREQ(supervisor.LossReason(), "Connection terminated.");
    EXPECT_EQ(supervisor.Poll(lostAt + 999), Action::kNone);
    EXPECT_EQ(supervisor.Poll(lostAt + 1000), Action::kRetry);  // the open fails: nothing to say
    EXPECT_EQ(supervisor.Poll(lostAt + 1500), Action::kNone);
    EXPECT_EQ(supervisor.Poll(lostAt + 2016), Action::kRetry);
    supervisor.Starting();
    supervisor.StartFailed();  // opened, but would not start
    EXPECT_EQ(supervisor.Poll(lostAt + 2500), Action::kNone);
    EXPECT_EQ(supervisor.Poll(lostAt + 3016), Action::kRetry);
    supervisor.Starting();
    EXPECT_EQ(supervisor.BeginBuffer(), StreamSupervisor::Buffer::kPlay) << "the old loss is forgotten";
    EXPECT_EQ(supervisor.Poll(lostAt + 5000), Action::kNone);
  }
}

// Every buffer size keeps at least 1024 frames queued: in four buffers, or in as few more as
// reach it.
TEST(StreamSupervisorTest, StreamsAreOpenedWithEnoughQueued) {
  const unsigned int cases[][2] = {{64, 16}, {128, 8}, {236, 5}, {256, 4}, {2048, 4}, {0, 4}};
  for (const auto& c : cases) EXPECT_EQ(GameState::StreamBuffers(c[0]), c[1]) << c[0] << " frames";
}

}  // namespace
