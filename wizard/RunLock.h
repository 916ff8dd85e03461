// One run of the wizard at a time on a practice: the run holds a lock file in the
// working directory for as long as its process lives. The lock is the kernel's (a lock
// on the open file, not the file's existence), so a run that was killed holds nothing
// and the next start goes ahead. The file names the run that holds it: its process,
// the user and the machine, and when it started.
#pragma once

#include "platform/types.h"

namespace pelvar {

class TRunLock {
 public:
  TRunLock() = default;
  ~TRunLock();
  TRunLock(const TRunLock&) = delete;
  TRunLock& operator=(const TRunLock&) = delete;

  // Takes the lock of the file (made when missing). False when another run holds it;
  // Holder() then says which. Raises when the file cannot be made or opened.
  bool Acquire(const AnsiString& file);
  // Gives the lock up and removes the file (nothing when not held).
  void Release();
  bool Held() const { return fd_ >= 0; }
  // Who holds the lock, as the holder wrote it: "Process", "User", "Host" and "Started"
  // (empty values when it did not say).
  struct THolder {
    AnsiString Process, User, Host, Started;
  };
  const THolder& Holder() const { return holder_; }

 private:
  int fd_ = -1;
  AnsiString file_;
  THolder holder_;
};

}  // namespace pelvar
