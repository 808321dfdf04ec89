#pragma once
// A FIFO with a writer waiting in its open, as a program that feeds a FIFO
// named like a dump would be: whoever opens the FIFO for reading releases it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace dumpscan::testing_support {

class WaitingFifoWriter {
 public:
  /// Makes the FIFO `path` and starts its writer.
  explicit WaitingFifoWriter(const std::filesystem::path& path)
      : path_(path), made_(mkfifo(path.c_str(), 0644) == 0), writer_([this] {
          if (!made_) return;
          const int fd = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
          released_ = true;
          if (fd >= 0) close(fd);
        }) {}
  WaitingFifoWriter(const WaitingFifoWriter&) = delete;
  WaitingFifoWriter& operator=(const WaitingFifoWriter&) = delete;
  /// Releases the writer if it still waits.
  ~WaitingFifoWriter() {
    const int fd = made_ ? open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    writer_.join();
    if (fd >= 0) close(fd);
  }

  bool made() const { return made_; }

  /// True while no reader has opened the FIFO. A released writer is given a
  /// moment to return from its open before this is answered.
  bool StillWaiting() const {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return !released_;
  }

 private:
  std::filesystem::path path_;
  bool made_;
  std::atomic<bool> released_{false};
  std::thread writer_;
};

}  // namespace dumpscan::testing_support
