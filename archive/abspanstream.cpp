#include "archive/abspanstream.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>

#include "archive/abexcept.h"
#include "archive/abutils.h"

namespace pelvar {

namespace {

bool DiskFileExists(const AnsiString& Name) {
  struct stat st;
  return !Name.empty() && ::stat(AbSysPath(Name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Name with its extension (after the last separator) replaced by Ext.
AnsiString ReplaceExtension(const AnsiString& Name, const AnsiString& Ext) {
  const size_t sep = Name.find_last_of("\\/:");
  const size_t dot = Name.rfind('.');
  if (dot == AnsiString::npos || (sep != AnsiString::npos && dot < sep)) return Name + Ext;
  return Name.substr(0, dot) + Ext;
}

}  // namespace

TAbSpanStream::TAbSpanStream(const AnsiString& FileName, int32_t Threshold, TAbMediaType MediaType,
                             uint16_t Mode)
    : media_type_(MediaType), threshold_(Threshold), image_name_(FileName), file_mode_(Mode) {
  if (AbPathKind(FileName) != 2) throw EAbException("Full Path Required");
  const bool creates = (Mode & 0xFF00) == fmCreate;
  span_mode_ = (creates || (Mode & fmOpenWrite) != 0) ? smWriting : smReading;
  if (span_mode_ == smReading || MediaUsable(FileName))
    OpenVolume(FileName, Mode);
  else
    throw EAbException("Invalid Media");
}

TAbSpanStream::~TAbSpanStream() = default;

bool TAbSpanStream::MediaUsable(const AnsiString& Name) {
  bytes_avail_ = AbFreeSpaceOf(Name);
  if (bytes_avail_ < -1) bytes_avail_ = INT32_MAX;
  return bytes_avail_ != -1 || !DiskFileExists(Name);
}

void TAbSpanStream::OpenVolume(const AnsiString& Name, uint16_t Mode) {
  volume_ = std::make_unique<TFileStream>(AbDiskPath(Name), Mode);
}

void TAbSpanStream::ReleaseVolume() { volume_.reset(); }

bool TAbSpanStream::RequestImage(int32_t Number, AnsiString& Name) {
  bool cancelled = false;
  OnRequestImage(this, Number, cancelled, Name);
  in_charge_ = true;
  cancelled_ = cancelled;
  return !cancelled;
}

int64_t TAbSpanStream::SpaceLeft() {
  const int32_t free = AbFreeSpaceOf(image_name_);
  // A medium whose free space cannot be determined sets no limit of its own.
  const int64_t medium = free == -1 ? INT32_MAX : free;
  if (media_type_ == mtLocal) return threshold_ > 0 ? threshold_ - bytes_written_ : medium;
  const int64_t limit = threshold_ > 0 ? threshold_ - bytes_written_ : INT32_MAX;
  return std::min(limit, medium);
}

int64_t TAbSpanStream::Size() { return volume_ ? volume_->Size() : 0; }

bool TAbSpanStream::AdvanceReadVolume() {
  volume_.reset();
  ++span_number_;
  const int32_t number = media_type_ == mtLocal ? span_number_ : span_number_ + 1;
  AnsiString name = image_name_;
  if (!RequestImage(number, name)) throw EAbUserAbort();
  if (!MediaUsable(name) || !DiskFileExists(name)) throw EAbFileNotFound();
  image_name_ = name;
  OpenVolume(name, file_mode_);
  return true;
}

int32_t TAbSpanStream::Read(void* Buffer, int32_t Count) {
  if (!volume_ || Count <= 0) return 0;
  if (ignore_spanning_) return volume_->Read(Buffer, Count);
  auto* out = static_cast<uint8_t*>(Buffer);
  int32_t done = 0;
  // A read that reaches the end of a volume goes on in the next one, so that
  // records lying across two volumes read whole.
  while (done < Count) {
    done += volume_->Read(out + done, Count - done);
    if (done == Count || !OnRequestImage) break;
    if (volume_->Position() < volume_->Size()) break;  // a read error, not the end
    AdvanceReadVolume();
  }
  return done;
}

int32_t TAbSpanStream::WriteToVolume(const uint8_t* Buffer, int32_t Count) {
  const int32_t n = volume_->Write(Buffer, Count);
  bytes_written_ += n;
  total_written_ += n;
  return n;
}

int32_t TAbSpanStream::Write(const void* Buffer, int32_t Count) {
  if (span_mode_ == smReading || !volume_ || Count <= 0) return 0;
  const auto* in = static_cast<const uint8_t*>(Buffer);
  int32_t done = 0;
  if (media_type_ == mtLocal && threshold_ <= 0) {
    done = WriteToVolume(in, Count);
  } else {
    while (done < Count) {
      const int64_t left = SpaceLeft();
      if (Count - done < left) {
        done += WriteToVolume(in + done, Count - done);
        break;
      }
      if (left > 0) {
        const auto part = static_cast<int32_t>(left);
        const int32_t n = WriteToVolume(in + done, part);
        done += n;
        if (n < part) break;
      }
      if (done < Count) {
        NextVolume();
        if (SpaceLeft() <= 0) throw EAbException("Invalid Media");
      }
    }
  }
  if (OnArchiveProgress) {
    bool abort = false;
    const auto total = static_cast<int32_t>(std::min<int64_t>(total_written_, INT32_MAX));
    OnArchiveProgress(static_cast<uint8_t>(AbPercentOf(total, total_size_)), abort);
    if (abort) return 0;
  }
  return done;
}

int64_t TAbSpanStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (!volume_) return 0;
  const int64_t pos = volume_->Position();
  if (span_mode_ == smWriting) return pos;
  const int64_t size = volume_->Size();
  int64_t target = pos;
  switch (static_cast<int>(Origin)) {
    case 0: target = Offset; break;
    case 1: target = pos + Offset; break;
    case 2: target = size + Offset; break;
    default: break;
  }
  if (ignore_spanning_) return volume_->Seek(std::clamp<int64_t>(target, 0, size), TSeekOrigin::soBeginning);
  if (target >= 0 && target <= size) return volume_->Seek(target, TSeekOrigin::soBeginning);
  // The kit never seeks across volumes: a target outside the current one leaves
  // the position where it is.
  return pos;
}

void TAbSpanStream::SetSize(int64_t NewSize) {
  if (!volume_) return;
  if (NewSize <= 0) {
    volume_->SetSize(0);
    bytes_written_ = 0;
    return;
  }
  const int32_t free = AbFreeSpaceOf(image_name_);
  const int64_t limit = free == -1 ? NewSize : std::min<int64_t>(NewSize, volume_->Size() + free);
  volume_->SetSize(limit);
  bytes_written_ = std::min(bytes_written_, limit);
}

void TAbSpanStream::NextVolume() {
  volume_.reset();
  AnsiString proposal;
  int32_t number = 0;
  if (media_type_ == mtLocal) {
    number = span_number_ + 1;
    if (number <= 99) {
      char ext[16];
      std::snprintf(ext, sizeof ext, ".z%02d", static_cast<int>(number));
      proposal = ReplaceExtension(image_name_, ext);
    }
  } else {
    number = span_number_ + 3;
    proposal = image_name_;
  }
  // Without anybody to name the next volume the archive cannot span.
  if (!OnRequestImage) throw EAbSpanningNotSupported();
  AnsiString name;
  while (true) {
    name = proposal;
    if (!RequestImage(number, name)) throw EAbUserAbort();
    if (AbPathKind(name) != 2) throw EAbException("Full Path Required");
    if (MediaUsable(name)) break;
  }
  image_name_ = name;
  ++span_number_;
  bytes_written_ = 0;
  { TFileStream created(AbDiskPath(name), fmCreate); }
  OpenVolume(name, file_mode_);
}

void TAbSpanStream::GotoNextVolume() {
  volume_.reset();
  if (span_mode_ == smWriting) {
    NextVolume();
    return;
  }
  if (!OnRequestImage) throw EAbSpanningNotSupported();
  AnsiString name = image_name_;
  const int32_t number = media_type_ == mtLocal ? span_number_ + 1 : span_number_ + 2;
  if (!RequestImage(number, name)) throw EAbUserAbort();
  if (!DiskFileExists(name)) throw EAbException("Cannot open spanned file: " + name);
  image_name_ = name;
  ++span_number_;
  OpenVolume(name, file_mode_);
}

}  // namespace pelvar
