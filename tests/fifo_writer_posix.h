#pragma once
// A FIFO with a writer waiting in its open, as a program that feeds a FIFO
// named like a dump would be: whoever opens the FIFO for reading releases it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace dumpscan::testing_support {

class WaitingFifoWriter {
 public:
  /// Makes the FIFO `path`, starts its writer and waits (up to 10 seconds)
  /// until the writer is seen blocked in its open of the FIFO.
  explicit WaitingFifoWriter(const std::filesystem::path& path)
      : path_(path), made_(mkfifo(path.c_str(), 0644) == 0), writer_([this] {
          if (!made_) return;
          thread_id_ = gettid();
          const int fd = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
          released_ = true;
          if (fd >= 0) close(fd);
        }) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (made_ && !BlockedInOpen() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  WaitingFifoWriter(const WaitingFifoWriter&) = delete;
  WaitingFifoWriter& operator=(const WaitingFifoWriter&) = delete;
  /// Releases the writer if it still waits.
  ~WaitingFifoWriter() {
    const int fd = made_ ? open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    writer_.join();
    if (fd >= 0) close(fd);
  }

  /// True when the FIFO was made and its writer waits in its open, so that
  /// anything that opens the FIFO from now on releases it: a writer that
  /// only got there late would let such an open go unseen.
  bool Waiting() const { return made_ && BlockedInOpen(); }

  /// True while no reader has opened the FIFO. A released writer is given a
  /// moment to return from its open before this is answered.
  bool StillWaiting() const {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return !released_ && BlockedInOpen();
  }

 private:
  // Where the kernel has the writer thread sleeping: Linux waits for the
  // other end of a FIFO being opened in wait_for_partner(), and the thread
  // does nothing but open this FIFO.
  bool BlockedInOpen() const {
    const pid_t thread = thread_id_;
    if (thread == 0 || released_) return false;
    std::ifstream wchan("/proc/self/task/" + std::to_string(thread) + "/wchan");
    std::string where;
    std::getline(wchan, where);
    return where == "wait_for_partner";
  }

  std::filesystem::path path_;
  bool made_;
  std::atomic<pid_t> thread_id_{0};
  std::atomic<bool> released_{false};
  std::thread writer_;
};

}  // namespace dumpscan::testing_support
