// How the POSIX console waits for a non-blocking stream: every answer poll
// can give, the odd ones included.

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "console/stream_wait_posix.h"

namespace dumpscan {
namespace {

// A poll whose answers follow a script: per call, the events it reports
// (a count of 1), or -errno for a failure.
struct PollScript {
  std::vector<int> answers;
  int calls = 0;
};
PollScript* g_script = nullptr;

int ScriptedPoll(pollfd* fds, nfds_t count, int timeout) {
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(timeout, -1);
  if (g_script->calls == static_cast<int>(g_script->answers.size())) {
    // A wait that goes on asking is the fault under test: end it.
    ADD_FAILURE() << "asked again after the scripted answers";
    errno = EINVAL;
    return -1;
  }
  const int answer = g_script->answers[static_cast<std::size_t>(g_script->calls++)];
  if (answer < 0) {
    errno = -answer;
    return -1;
  }
  fds[0].revents = static_cast<short>(answer);
  return 1;
}

TEST(WaitUntilReadyTest, AStreamInErrorOrClosedEndsTheWait) {
  const struct {
    const char* what;
    short events;
    std::vector<int> answers;
    bool ready;
  } cases[] = {
      {"room to write", POLLOUT, {POLLOUT}, true},
      {"bytes to read", POLLIN, {POLLIN}, true},
      {"the writer has gone: the read tells the end", POLLIN, {POLLHUP}, true},
      {"interrupted, then ready", POLLOUT, {-EINTR, POLLOUT}, true},
      {"a descriptor that is not open", POLLOUT, {POLLNVAL}, false},
      {"a pipe whose reader has gone", POLLOUT, {POLLERR}, false},
      {"an error on input", POLLIN, {POLLERR | POLLIN}, false},
      {"interrupted, then not open", POLLIN, {-EINTR, POLLNVAL}, false},
      {"poll itself fails", POLLIN, {-ENOMEM}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PollScript script{c.answers, 0};
    g_script = &script;
    EXPECT_EQ(WaitUntilReady(5, c.events, ScriptedPoll), c.ready);
    EXPECT_EQ(script.calls, static_cast<int>(c.answers.size()));
    g_script = nullptr;
  }
}

// The system's own poll on a descriptor that is not open answers POLLNVAL
// at once, every time.
TEST(WaitUntilReadyTest, AClosedDescriptorIsNotWaitedOn) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  close(fds[1]);
  EXPECT_FALSE(WaitUntilReady(fds[1], POLLOUT, poll));
}

}  // namespace
}  // namespace dumpscan
