#include "platform/streams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/codepage.h"

namespace pelvar {

namespace {

int64_t Clamp(int64_t pos) { return pos < 0 ? 0 : pos; }

AnsiString OsErrorText(int err) { return Utf8ToAnsi(std::strerror(err)); }

}  // namespace

std::string SysFileName(const AnsiString& file_name) { return AnsiToUtf8(file_name); }

// --- TStream ---------------------------------------------------------------

int64_t TStream::Size() {
  const int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  const int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream does not support SetSize"); }

void TStream::ReadBuffer(void* buffer, int64_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const auto chunk = static_cast<int32_t>(std::min<int64_t>(count, 1 << 30));
    const int32_t n = Read(p, chunk);
    if (n != chunk) throw EReadError("Stream read error");
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const auto chunk = static_cast<int32_t>(std::min<int64_t>(count, 1 << 30));
    const int32_t n = Write(p, chunk);
    if (n != chunk) throw EWriteError("Stream write error");
    p += n;
    count -= n;
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const int64_t total = count;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(count, 1), 0xF000)));
  while (count > 0) {
    const auto n = static_cast<int32_t>(std::min<int64_t>(count, static_cast<int64_t>(buf.size())));
    source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    count -= n;
  }
  return total;
}

// --- memory streams --------------------------------------------------------

int32_t TCustomMemoryStream::Read(void* buffer, int32_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  const auto n = static_cast<int32_t>(std::min<int64_t>(count, size_ - position_));
  std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TCustomMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::soBeginning: position_ = offset; break;
    case TSeekOrigin::soCurrent: position_ += offset; break;
    case TSeekOrigin::soEnd: position_ = size_ + offset; break;
  }
  position_ = Clamp(position_);
  return position_;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) {
  if (size_ > 0) stream.WriteBuffer(data_, size_);
}

void TCustomMemoryStream::SaveToFile(const AnsiString& file_name) {
  TFileStream f(file_name, fmCreate);
  SaveToStream(f);
}

void TMemoryStream::Reserve(int64_t capacity) {
  if (capacity > static_cast<int64_t>(buffer_.size())) {
    // Grow geometrically so that many small writes stay linear.
    const int64_t grown = std::max<int64_t>(capacity, static_cast<int64_t>(buffer_.size()) * 3 / 2);
    buffer_.resize(static_cast<size_t>(grown));
  }
  SetPointer(buffer_.data(), size_);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int64_t end = position_ + count;
  Reserve(end);
  std::memcpy(data_ + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  if (end > size_) size_ = end;
  return count;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  Reserve(size);
  if (size > size_) std::memset(data_ + size_, 0, static_cast<size_t>(size - size_));
  size_ = size;
  if (position_ > size_) position_ = size_;
}

void TMemoryStream::Clear() {
  buffer_.clear();
  buffer_.shrink_to_fit();
  SetPointer(nullptr, 0);
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  const int64_t n = stream.Size();
  SetSize(n);
  if (n > 0) stream.ReadBuffer(data_, n);
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const AnsiString& file_name) {
  TFileStream f(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(f);
}

// --- TFileStream -----------------------------------------------------------

TFileStream::TFileStream(const AnsiString& file_name, uint16_t mode) : file_name_(file_name) {
  const std::string path = SysFileName(file_name);
  const bool create = (mode & 0xFF00) == fmCreate;
  int flags = O_CLOEXEC;
  if (create) {
    flags |= O_RDWR | O_CREAT;
  } else {
    switch (mode & 0x3) {
      case fmOpenWrite: flags |= O_WRONLY; break;
      case fmOpenReadWrite: flags |= O_RDWR; break;
      default: flags |= O_RDONLY; break;
    }
  }
  fd_ = ::open(path.c_str(), flags, 0666);
  if (fd_ < 0) {
    const int err = errno;
    if (create)
      throw EFCreateError("Cannot create file \"" + file_name + "\". " + OsErrorText(err));
    throw EFOpenError("Cannot open file \"" + file_name + "\". " + OsErrorText(err));
  }
  int lock = 0;
  switch (create ? fmShareExclusive : (mode & 0xF0)) {
    case fmShareExclusive:
    case fmShareDenyRead: lock = LOCK_EX; break;
    case fmShareDenyWrite: lock = LOCK_SH; break;
    default: break;
  }
  if (lock != 0 && ::flock(fd_, lock | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd_);
    fd_ = -1;
    if (create)
      throw EFCreateError("Cannot create file \"" + file_name + "\". " + OsErrorText(err));
    throw EFOpenError("Cannot open file \"" + file_name + "\". " + OsErrorText(err));
  }
  // fmCreate truncates only once the lock is held, never under another's feet.
  if (create && ::ftruncate(fd_, 0) != 0) {
    const int err = errno;
    ::close(fd_);
    fd_ = -1;
    throw EFCreateError("Cannot create file \"" + file_name + "\". " + OsErrorText(err));
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

int32_t TFileStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int32_t done = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (done < count) {
    const ssize_t n = ::read(fd_, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int32_t TFileStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  int32_t done = 0;
  const auto* p = static_cast<const uint8_t*>(buffer);
  while (done < count) {
    const ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<int32_t>(n);
  }
  return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                     : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                        : SEEK_END;
  const off_t r = ::lseek(fd_, offset, whence);
  return r < 0 ? -1 : r;
}

void TFileStream::SetSize(int64_t size) {
  if (::ftruncate(fd_, size) != 0)
    throw EStreamError("Cannot set the size of \"" + file_name_ + "\". " + OsErrorText(errno));
  if (Position() > size) Seek(size, TSeekOrigin::soBeginning);
}

// --- TStringStream ---------------------------------------------------------

int32_t TStringStream::Read(void* buffer, int32_t count) {
  const int64_t size = static_cast<int64_t>(data_.size());
  if (count <= 0 || position_ >= size) return 0;
  const auto n = static_cast<int32_t>(std::min<int64_t>(count, size - position_));
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int32_t TStringStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const auto end = static_cast<size_t>(position_ + count);
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = static_cast<int64_t>(end);
  return count;
}

int64_t TStringStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t size = static_cast<int64_t>(data_.size());
  switch (origin) {
    case TSeekOrigin::soBeginning: position_ = offset; break;
    case TSeekOrigin::soCurrent: position_ += offset; break;
    case TSeekOrigin::soEnd: position_ = size + offset; break;
  }
  position_ = std::clamp<int64_t>(position_, 0, size);
  return position_;
}

void TStringStream::SetSize(int64_t size) {
  data_.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
  if (position_ > size) position_ = size;
}

std::string TStringStream::ReadString(int32_t count) {
  const int64_t size = static_cast<int64_t>(data_.size());
  const auto n = std::max<int64_t>(0, std::min<int64_t>(count, size - position_));
  std::string s = data_.substr(static_cast<size_t>(position_), static_cast<size_t>(n));
  position_ += n;
  return s;
}

}  // namespace pelvar
