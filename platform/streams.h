// The framework's streams: an abstract byte stream with 64-bit positions, a memory
// stream, a file stream with the framework's open and share modes, a string stream.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/exceptions.h"
#include "platform/types.h"

namespace pelvar {

enum class TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;

  // Read/Write move up to count bytes and return how many moved.
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t size);

  // All or nothing: raise EReadError / EWriteError when fewer bytes move.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's position; count 0 copies all of source from
  // its beginning. Returns the number of bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);
};

class TCustomMemoryStream : public TStream {
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return size_; }
  const uint8_t* Memory() const { return data_; }
  uint8_t* Memory() { return data_; }
  void SaveToStream(TStream& stream);
  void SaveToFile(const AnsiString& file_name);

 protected:
  void SetPointer(uint8_t* data, int64_t size) {
    data_ = data;
    size_ = size;
  }
  uint8_t* data_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
};

class TMemoryStream : public TCustomMemoryStream {
 public:
  int32_t Write(const void* buffer, int32_t count) override;
  void SetSize(int64_t size) override;
  void Clear();
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const AnsiString& file_name);

 private:
  void Reserve(int64_t capacity);
  std::vector<uint8_t> buffer_;
};

// Open modes (one of) combined with share modes (one of), as the framework has them.
constexpr uint16_t fmCreate = 0xFF00;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;

// A file opened by its Windows-1250 name (the Linux name is its UTF-8 form).
// Share modes are approximated with advisory locks (Linux has no share modes):
// fmCreate, exclusive and deny-read take an exclusive lock, deny-write a shared one,
// deny-none and compat none; an open whose lock conflicts raises EFOpenError
// (EFCreateError for fmCreate). fmCreate truncates only once its lock is held.
class TFileStream : public TStream {
 public:
  TFileStream(const AnsiString& file_name, uint16_t mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  const AnsiString& FileName() const { return file_name_; }
  int Handle() const { return fd_; }

 private:
  AnsiString file_name_;
  int fd_ = -1;
};

// A stream over a byte string (Windows-1250 text or binary data).
class TStringStream : public TStream {
 public:
  explicit TStringStream(std::string data = {}) : data_(std::move(data)) {}
  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  const std::string& DataString() const { return data_; }
  std::string ReadString(int32_t count);
  void WriteString(const std::string& s) { WriteBuffer(s.data(), static_cast<int64_t>(s.size())); }

 private:
  std::string data_;
  int64_t position_ = 0;
};

// The Linux file name of a Windows-1250 file name.
std::string SysFileName(const AnsiString& file_name);

}  // namespace pelvar
