#include "archive/abvmstream.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "archive/abexcept.h"
#include "archive/abutils.h"

namespace pelvar {

TAbVirtualMemoryStream::TAbVirtualMemoryStream() {
  pages_.push_back(std::make_unique<Page>());
  SetMemSize(kDefaultMemSize);
}

TAbVirtualMemoryStream::~TAbVirtualMemoryStream() {
  swap_.reset();
  if (!swap_name_.empty()) ::unlink(AbSysPath(swap_name_).c_str());
}

std::vector<int64_t> TAbVirtualMemoryStream::PageOffsets() const {
  std::vector<int64_t> out;
  out.reserve(pages_.size());
  for (const auto& p : pages_) out.push_back(p->offset);
  return out;
}

int32_t TAbVirtualMemoryStream::NextStamp() {
  if (use_counter_ == INT32_MAX) {
    for (auto& p : pages_) p->stamp = 0;
    use_counter_ = 0;
  }
  return ++use_counter_;
}

size_t TAbVirtualMemoryStream::LeastRecentlyUsed() const {
  size_t best = 0;
  for (size_t i = 1; i < pages_.size(); ++i) {
    if (pages_[i]->stamp < pages_[best]->stamp) best = i;
  }
  return best;
}

void TAbVirtualMemoryStream::OpenSwap() {
  AnsiString name;
  try {
    name = AbNewTempFile(swap_dir_);
  } catch (const Exception&) {
    throw EAbQorErrorOpenSwap(swap_dir_);
  }
  try {
    swap_ = std::make_unique<TFileStream>(name, fmOpenReadWrite);
  } catch (const Exception&) {
    ::unlink(AbSysPath(name).c_str());
    throw EAbQorErrorOpenSwap(name);
  }
  swap_name_ = name;
  swap_size_ = 0;
}

void TAbVirtualMemoryStream::SwapOut(Page& P) {
  if (!swap_) OpenSwap();
  if (swap_->Seek(P.offset, TSeekOrigin::soBeginning) != P.offset) throw EAbQorSeekFail(swap_name_);
  const int32_t written = swap_->Write(P.data.data(), kPageSize);
  if (written != kPageSize) throw EAbQorWriteFail(written, swap_name_);
  swap_size_ = std::max(swap_size_, P.offset + kPageSize);
  P.dirty = false;
}

TAbVirtualMemoryStream::Page* TAbVirtualMemoryStream::GetPage(int64_t Offset) {
  if (cache_ != nullptr && cache_->offset == Offset) {
    cache_->stamp = NextStamp();
    return cache_;
  }
  auto by_offset = [](const std::unique_ptr<Page>& p, int64_t off) { return p->offset < off; };
  auto it = std::lower_bound(pages_.begin(), pages_.end(), Offset, by_offset);
  if (it != pages_.end() && (*it)->offset == Offset) {
    cache_ = it->get();
    cache_->stamp = NextStamp();
    return cache_;
  }

  // A missing page: a new record while under the limit, else the least recently
  // used one, written out first when it holds changes.
  std::unique_ptr<Page> page;
  if (static_cast<int32_t>(pages_.size()) < page_limit_) {
    page = std::make_unique<Page>();
  } else {
    const size_t lru = LeastRecentlyUsed();
    if (pages_[lru]->dirty) SwapOut(*pages_[lru]);
    page = std::move(pages_[lru]);
    pages_.erase(pages_.begin() + static_cast<std::ptrdiff_t>(lru));
    if (cache_ == page.get()) cache_ = nullptr;
  }

  if (Offset < swap_size_) {
    if (swap_->Seek(Offset, TSeekOrigin::soBeginning) != Offset) throw EAbQorSeekFail(swap_name_);
    const int32_t got = swap_->Read(page->data.data(), kPageSize);
    if (got != kPageSize) throw EAbQorReadFail(got, swap_name_);
  } else {
    page->data.fill(0);
  }
  page->offset = Offset;
  page->dirty = false;
  page->stamp = NextStamp();

  it = std::lower_bound(pages_.begin(), pages_.end(), Offset, by_offset);
  cache_ = pages_.insert(it, std::move(page))->get();
  return cache_;
}

void TAbVirtualMemoryStream::SetMemSize(int32_t Value) {
  int64_t limit = (static_cast<int64_t>(Value) + kPageSize - 1) / kPageSize;
  // At least one page: a stream without pages could not hold any data.
  limit = std::clamp<int64_t>(limit, 1, kMaxPages);
  page_limit_ = static_cast<int32_t>(limit);
  while (static_cast<int32_t>(pages_.size()) > page_limit_) {
    const size_t lru = LeastRecentlyUsed();
    if (pages_[lru]->dirty) SwapOut(*pages_[lru]);
    if (cache_ == pages_[lru].get()) cache_ = nullptr;
    pages_.erase(pages_.begin() + static_cast<std::ptrdiff_t>(lru));
  }
}

int32_t TAbVirtualMemoryStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || position_ < 0 || position_ >= size_) return 0;
  const int32_t total = static_cast<int32_t>(std::min<int64_t>(Count, size_ - position_));
  auto* out = static_cast<uint8_t*>(Buffer);
  int32_t done = 0;
  while (done < total) {
    const int64_t page_offset = position_ / kPageSize * kPageSize;
    const int32_t in_page = static_cast<int32_t>(position_ - page_offset);
    const int32_t n = std::min(total - done, kPageSize - in_page);
    Page* page = GetPage(page_offset);
    std::memcpy(out + done, page->data.data() + in_page, static_cast<size_t>(n));
    done += n;
    position_ += n;
  }
  return done;
}

int32_t TAbVirtualMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0 || position_ < 0) return 0;
  const auto* in = static_cast<const uint8_t*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    const int64_t page_offset = position_ / kPageSize * kPageSize;
    const int32_t in_page = static_cast<int32_t>(position_ - page_offset);
    const int32_t n = std::min(Count - done, kPageSize - in_page);
    Page* page = GetPage(page_offset);
    std::memcpy(page->data.data() + in_page, in + done, static_cast<size_t>(n));
    page->dirty = true;
    done += n;
    position_ += n;
    if (position_ > size_) size_ = position_;
  }
  return done;
}

int64_t TAbVirtualMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  switch (static_cast<int>(Origin)) {
    case 0: position_ = Offset; break;
    case 1: position_ += Offset; break;
    case 2: position_ = size_ + Offset; break;
    default: throw EAbQorInvalidOrigin(static_cast<int32_t>(Origin));
  }
  return position_;
}

void TAbVirtualMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) NewSize = 0;
  if (NewSize < size_) {
    while (!pages_.empty() && pages_.back()->offset >= NewSize) {
      if (cache_ == pages_.back().get()) cache_ = nullptr;
      pages_.pop_back();
    }
    const int64_t whole = (NewSize + kPageSize - 1) / kPageSize * kPageSize;
    if (swap_size_ > whole) {
      swap_size_ = whole;
      if (swap_) swap_->SetSize(whole);
    }
  }
  size_ = NewSize;
  if (position_ > size_) position_ = size_;
}

}  // namespace pelvar
