#pragma once
// How the POSIX console waits for a stream it was handed in non-blocking
// mode. Kept apart from the rest of the console so that every answer poll
// can give, the odd ones included, can be made to happen in a test.

#include <poll.h>

namespace dumpscan {

/// A poll call with poll(2)'s arguments and results.
using PollCall = int (*)(pollfd* fds, nfds_t count, int timeout);

/// Waits through `poll_call`, with no time limit and across interruptions, until
/// `fd` is ready for `events` (POLLIN or POLLOUT). True when the caller may
/// try its read or write again; false when the stream can no longer be
/// waited on: poll fails, or reports the descriptor invalid (POLLNVAL) or
/// the stream in error (POLLERR). Those answers would come back at once on
/// every further call, so trying again would only spin.
bool WaitUntilReady(int fd, short events, PollCall poll_call);

}  // namespace dumpscan
