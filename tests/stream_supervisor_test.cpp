// Telling a lost stream from a hiccup, and pacing the attempts to reopen it.

#include <gtest/gtest.h>

#include <string>

#include "stream_supervisor.h"

namespace {

using Action = StreamSupervisor::Action;
using Buffer = StreamSupervisor::Buffer;

char FateLetter(Buffer fate) {
  switch (fate) {
    case Buffer::kPlay: return 'P';
    case Buffer::kUnrecorded: return 'U';
    case Buffer::kStop: return 'S';
  }
  return '?';
}

struct ErrorCase {
  const char* what;
  bool started;        // Starting() before the events
  const char* events;  // b: a buffer begins, w: the library warns, f: a fatal error
  const char* fates;   // each buffer's fate: P play, U unrecorded, S stop
  bool lost;           // Poll then says to close the stream
};

TEST(StreamSupervisorTest, ErrorsInARowMeanTheStreamIsLost) {
  const ErrorCase cases[] = {
      {"an underrun: one failed write, then clean buffers", true, "bwbb", "PUP", false},
      {"writes failing now and then", true, "bwbwbbwbwbbwbb", "PUUPUUPUP", false},
      {"a server gone: every write fails", true, "bwbwbwbwbb", "PUUUSS", true},
      {"a fatal error", true, "bfb", "PS", true},
      {"errors while no stream runs", false, "wwwwf", "", false},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.what);
    StreamSupervisor supervisor;
    if (c.started) supervisor.Starting();
    std::string fates;
    for (const char* e = c.events; *e != '\0'; ++e) {
      if (*e == 'b') fates += FateLetter(supervisor.BeginBuffer());
      if (*e == 'w') supervisor.ReportError(false, "audio write error, Connection terminated.");
      if (*e == 'f') supervisor.ReportError(true, "thread failed");
    }
    EXPECT_EQ(fates, c.fates);
    EXPECT_EQ(supervisor.Poll(0) == Action::kClose, c.lost);
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
    EXPECT_EQ(supervisor.BeginBuffer(), Buffer::kPlay) << "the new stream forgets the old loss";
    EXPECT_EQ(supervisor.Poll(lostAt + 5000), Action::kNone);
  }
}

TEST(StreamSupervisorTest, AStreamClosedOnPurposeIsNotRetried) {
  StreamSupervisor supervisor;
  supervisor.Starting();
  supervisor.ReportError(true, "lost");
  supervisor.Stopped();  // shutdown before the frame loop saw the loss
  EXPECT_EQ(supervisor.Poll(0), Action::kNone);
  EXPECT_EQ(supervisor.Poll(60000), Action::kNone);
}

}  // namespace
