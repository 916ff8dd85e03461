// A memory stream of 4 KB pages that keeps only a bounded number of pages in memory
// and spills the least recently used ones to a swap file: the work stream of archive
// saves and of every compressed entry.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/streams.h"

namespace pelvar {

class TAbVirtualMemoryStream : public TStream {
 public:
  static constexpr int32_t kPageSize = 4096;
  static constexpr int32_t kMaxPages = 256;
  static constexpr int32_t kDefaultMemSize = 102400;

  TAbVirtualMemoryStream();
  // Closes and deletes the swap file and releases the pages.
  ~TAbVirtualMemoryStream() override;
  TAbVirtualMemoryStream(const TAbVirtualMemoryStream&) = delete;
  TAbVirtualMemoryStream& operator=(const TAbVirtualMemoryStream&) = delete;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Origins other than beginning, current and end raise EAbQorInvalidOrigin.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return size_; }
  void SetSize(int64_t NewSize) override;

  // The memory budget in bytes, rounded up to whole pages (1 to 256 pages).
  int32_t MemSize() const { return page_limit_ * kPageSize; }
  void SetMemSize(int32_t Value);
  // Where the swap file is made; set before the stream spills.
  const AnsiString& SwapFileDirectory() const { return swap_dir_; }
  void SetSwapFileDirectory(const AnsiString& Value) { swap_dir_ = Value; }
  // Empty until the stream first spills.
  const AnsiString& SwapFileName() const { return swap_name_; }
  int64_t SwapFileSize() const { return swap_size_; }
  // Pages held in memory now.
  int32_t PageCount() const { return static_cast<int32_t>(pages_.size()); }
  // Stream offsets of the pages held in memory, in ascending order.
  std::vector<int64_t> PageOffsets() const;

 private:
  struct Page {
    int64_t offset = 0;
    int32_t stamp = 0;
    bool dirty = false;
    std::array<uint8_t, kPageSize> data{};
  };

  Page* GetPage(int64_t Offset);
  int32_t NextStamp();
  void SwapOut(Page& P);
  void OpenSwap();
  // Index of the held page with the smallest use stamp.
  size_t LeastRecentlyUsed() const;

  std::vector<std::unique_ptr<Page>> pages_;  // sorted by offset
  Page* cache_ = nullptr;
  int32_t use_counter_ = 0;
  int32_t page_limit_ = 0;
  int64_t position_ = 0;
  int64_t size_ = 0;
  AnsiString swap_dir_;
  AnsiString swap_name_;
  int64_t swap_size_ = 0;
  std::unique_ptr<TFileStream> swap_;
};

}  // namespace pelvar
