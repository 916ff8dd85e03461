#include "archive/abunzprc.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "archive/abbitbkt.h"
#include "archive/abdfbase.h"
#include "archive/abdfcrys.h"
#include "archive/abdfdec.h"
#include "archive/abspanstream.h"
#include "archive/abutils.h"
#include "archive/abzipprc.h"

namespace pelvar {

namespace {

constexpr int32_t kBlockSize = 1024;

// Shrunk, reduced or imploded data that breaks its format.
[[noreturn]] void Corrupt() { throw EAbBadData("the shrunk, reduced or imploded data breaks its format"); }

// --- Passwords ---

// Makes sure the archive has a password to try; an answer counts as one asked.
void FirstPassword(TAbZipArchive& Archive, int32_t& Asked) {
  if (!Archive.Password().empty()) return;
  bool abort = false;
  AbNeedPassword(Archive, abort);
  ++Asked;
  if (abort) throw EAbUserAbort();
  if (Archive.Password().empty()) throw EAbZipInvalidPassword();
}

// After a rejected password: another answer, while answers are left.
void AskAgain(TAbZipArchive& Archive, int32_t& Asked) {
  // Without a handler the same password would only fail again.
  if (!Archive.OnNeedPassword || Asked >= Archive.PasswordRetries()) throw EAbZipInvalidPassword();
  bool abort = false;
  AbNeedPassword(Archive, abort);
  ++Asked;
  if (abort) throw EAbUserAbort();
}

// --- Reading an entry ---

// A read-only view of the entry's stored data: a decoder that reads ahead never
// runs into the next entry, or past the last volume of a spanned set.
class TEntryDataStream : public TStream {
 public:
  TEntryDataStream(TStream& Base, int64_t Limit) : base_(Base), limit_(Limit) {}
  int32_t Read(void* Buffer, int32_t Count) override {
    const auto n = static_cast<int32_t>(std::min<int64_t>(Count, limit_ - position_));
    if (n <= 0) return 0;
    const int32_t got = base_.Read(Buffer, n);
    if (got > 0) position_ += got;
    return got;
  }
  int32_t Write(const void*, int32_t) override { throw EStreamError("The entry's data cannot be written"); }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    int64_t target = Offset;
    if (Origin == TSeekOrigin::soCurrent) target += position_;
    if (Origin == TSeekOrigin::soEnd) target += limit_;
    target = std::clamp<int64_t>(target, 0, limit_);
    if (target != position_) {
      base_.Seek(target - position_, TSeekOrigin::soCurrent);
      position_ = target;
    }
    return position_;
  }
  int64_t Size() override { return limit_; }

 private:
  TStream& base_;
  int64_t limit_;
  int64_t position_ = 0;
};

// The output of an entry's decoder, held to the uncompressed size the entry
// declares: a damaged or hostile entry must not grow past it (a few bytes that
// expand to gigabytes) before the CRC check could refuse it. Without a target the
// bytes are only counted (a test).
class TDeclaredSizeStream : public TStream {
 public:
  TDeclaredSizeStream(TStream* Target, int64_t Declared, const AnsiString& Name)
      : target_(Target), declared_(Declared), name_(Name) {}
  int32_t Read(void*, int32_t) override { throw EStreamError("The entry's output cannot be read"); }
  int32_t Write(const void* Buffer, int32_t Count) override {
    if (Count <= 0) return 0;
    if (written_ + Count > declared_)
      throw EAbBadData("the entry " + name_ + " expands to more than the " + std::to_string(declared_) +
                       " bytes its header declares");
    if (target_ != nullptr) target_->WriteBuffer(Buffer, Count);
    written_ += Count;
    return Count;
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return written_; }
  int64_t Size() override { return written_; }

 private:
  TStream* target_;
  int64_t declared_;
  AnsiString name_;
  int64_t written_ = 0;
};

// The names of the version-needed values that mark features the kit does not read.
AnsiString FeatureOfVersion(int32_t Version) {
  switch (Version) {
    case 46: return "BZIP2 compression";
    case 50: return "DES, 3DES, RC2 or RC4 encryption";
    case 51: return "AES or RC2 encryption";
    case 52: return "RC2-64 encryption";
    case 61: return "non-OAEP key wrapping";
    case 62: return "central directory encryption";
    case 63: return "LZMA, PPMd, Blowfish or Twofish";
    default: return "zip version " + std::to_string(Version / 10) + "." + std::to_string(Version % 10);
  }
}

// An entry is read when it fits the classic 32-bit format, whatever version its
// writer put down (Zip64 writers say 4.5 for every entry, with sizes that fit): the
// method must be one the kit expands and no feature beyond the classic format may
// be in use. Otherwise the failure names what is in the way.
void CheckReadable(const TAbZipItem& Item) {
  const int32_t version = Item.VersionNeededToExtract() & 0xFF;
  const uint16_t flag = Item.GeneralPurposeBitFlag();
  const AnsiString name = Item.FileName();
  if ((flag & 0x40) != 0) throw EAbUnsupportedFeature("strong encryption (entry " + name + ")");
  if ((flag & 0x20) != 0) throw EAbUnsupportedFeature("patched data (entry " + name + ")");
  if ((flag & 0x2000) != 0) throw EAbUnsupportedFeature("central directory encryption (entry " + name + ")");
  if (Item.CompressedSize32() == 0xFFFFFFFFu || Item.UncompressedSize32() == 0xFFFFFFFFu)
    throw EAbUnsupportedFeature("Zip64 sizes of 4 GB or more (entry " + name + ")");
  // Beyond every published version: the entry needs a newer reader.
  if (version > 63) throw EAbZipVersion();
  if (version <= 45) return;
  // A method that the kit knows is read even so; another fails naming the feature
  // its version stands for.
  const uint16_t method = Item.CompressionMethod();
  if (method <= 6 || method == 8 || method == 9) return;
  throw EAbUnsupportedFeature(FeatureOfVersion(version) + " (entry " + name + ")");
}

void SwitchDisk(TAbZipArchive& Archive, const TAbZipItem& Item) {
  if (!Archive.Spanned() || Item.DiskNumberStart() == Archive.CurrentDisk()) return;
  if (dynamic_cast<TAbSpanStream*>(Archive.Stream()) == nullptr) throw EAbZipBadSpanStream();
  Archive.OpenVolume(Item.DiskNumberStart());
  Archive.SetCurrentDisk(Item.DiskNumberStart());
}

TAbZipLocalFileHeader LoadLocalHeader(TAbZipArchive& Archive, const TAbZipItem& Item) {
  TStream* stream = Archive.Stream();
  if (stream == nullptr) throw EAbReadError();
  stream->Seek(Item.RelativeOffset(), TSeekOrigin::soBeginning);
  if (stream->Position() != Item.RelativeOffset())
    throw EAbDamagedArchive("the entry " + Item.FileName() + " starts at offset " +
                            std::to_string(Item.RelativeOffset()) + ", past the end of the file");
  TAbZipLocalFileHeader lfh;
  try {
    lfh.LoadFromStream(*stream);
  } catch (const EAbZipInvalid&) {
    throw EAbDamagedArchive("the local header of the entry " + Item.FileName() + " is missing at offset " +
                            std::to_string(Item.RelativeOffset()) + " or cut short");
  }
  return lfh;
}

// The extra field holds a Zip64 record (header id 1).
bool HasZip64Field(const AnsiString& Extra) {
  size_t at = 0;
  while (at + 4 <= Extra.size()) {
    const auto id = static_cast<uint16_t>(static_cast<uint8_t>(Extra[at]) | (static_cast<uint8_t>(Extra[at + 1]) << 8));
    const auto length =
        static_cast<uint16_t>(static_cast<uint8_t>(Extra[at + 2]) | (static_cast<uint8_t>(Extra[at + 3]) << 8));
    if (id == 1) return true;
    at += 4 + static_cast<size_t>(length);
  }
  return false;
}

// The archive's current disk follows the volume that reading ended on (an entry's
// data may go on past the end of the volume it starts on).
class TDiskFollower {
 public:
  explicit TDiskFollower(TAbZipArchive& Archive) : archive_(Archive) {}
  ~TDiskFollower() {
    auto* volume = dynamic_cast<TAbSpanStream*>(archive_.Stream());
    if (archive_.Spanned() && volume != nullptr) archive_.SetCurrentDisk(static_cast<uint16_t>(volume->SpanNumber()));
  }
  TDiskFollower(const TDiskFollower&) = delete;
  TDiskFollower& operator=(const TDiskFollower&) = delete;

 private:
  TAbZipArchive& archive_;
};

// Expands the entry into OutStream and gives the CRC-32 of what was written.
uint32_t ExpandEntry(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream) {
  CheckReadable(Item);
  TDiskFollower follow(Archive);
  SwitchDisk(Archive, Item);
  const TAbZipLocalFileHeader lfh = LoadLocalHeader(Archive, Item);
  const uint32_t check = (lfh.GeneralPurposeBitFlag & 8) != 0 ? static_cast<uint32_t>(lfh.LastModFileTime) << 16
                                                               : Item.CRC32();
  switch (lfh.CompressionMethod) {
    case 0: return AbUnstoreItem(Archive, Item, OutStream, check);
    case 8:
    case 9: return AbInflateItem(Archive, Item, OutStream, check);
    default: return AbUnzipLegacyItem(Archive, Item, OutStream, check);
  }
}

// What a failed entry wrote is cut off again, when the stream was at its end.
void Rollback(TStream& OutStream, int64_t Start, bool AtEnd) {
  if (!AtEnd || dynamic_cast<TAbBitBucketStream*>(&OutStream) != nullptr) return;
  try {
    OutStream.SetSize(Start);
    OutStream.Seek(Start, TSeekOrigin::soBeginning);
  } catch (const std::exception&) {
    // A stream that cannot shrink keeps what it has; the failure is reported anyway.
  }
}

AnsiString DirectoryOf(const AnsiString& Path) {
  const size_t slash = Path.find_last_of('/');
  if (slash == AnsiString::npos) return AnsiString(".");
  return slash == 0 ? AnsiString("/") : Path.substr(0, slash);
}

}  // namespace

void AbNeedPassword(TAbZipArchive& Archive, bool& Abort) {
  Abort = false;
  if (!Archive.OnNeedPassword) return;
  AnsiString answer;
  Archive.OnNeedPassword(&Archive, answer);
  if (answer.empty())
    Abort = true;
  else
    Archive.SetPassword(answer);
}

uint32_t AbUnstoreItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, uint32_t CheckValue) {
  TStream* source = Archive.Stream();
  std::unique_ptr<TAbDfDecryptStream> decrypt;
  if (Item.IsEncrypted()) {
    int32_t asked = 0;
    FirstPassword(Archive, asked);
    for (;;) {
      decrypt = std::make_unique<TAbDfDecryptStream>(Archive.Stream(), Archive.Password(), CheckValue);
      if (decrypt->CheckHeader()) break;
      AskAgain(Archive, asked);
    }
    source = decrypt.get();
  }
  const int64_t total = Item.UncompressedSize32();
  uint8_t buffer[kBlockSize];
  uint32_t crc = 0xFFFFFFFF;
  int64_t done = 0;
  int32_t last = -1;
  while (done < total) {
    const auto want = static_cast<int32_t>(std::min<int64_t>(kBlockSize, total - done));
    const int32_t got = source->Read(buffer, want);
    if (got <= 0)
      throw EAbDamagedArchive("the data of the entry " + Item.FileName() + " ends after " + std::to_string(done) +
                              " of " + std::to_string(total) + " bytes");
    AbCrc32Buffer(crc, buffer, got);
    OutStream.WriteBuffer(buffer, got);
    done += got;
    if (Archive.OnProgress) {
      const uint8_t percent = AbRoundedPercent(done, total);
      if (percent != last) {
        last = percent;
        bool abort = false;
        Archive.OnProgress(percent, abort);
        if (abort) throw EAbUserAbort();
      }
    }
  }
  if (Archive.OnProgress && last < 100) {
    bool abort = false;
    Archive.OnProgress(100, abort);
    if (abort) throw EAbUserAbort();
  }
  return ~crc;
}

uint32_t AbInflateItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, uint32_t CheckValue) {
  TAbDeflateHelper helper;
  uint32_t options = helper.Options();
  // A test only counts what would be written.
  const bool test_only = dynamic_cast<TAbBitBucketStream*>(&OutStream) != nullptr;
  TDeclaredSizeStream output(test_only ? nullptr : &OutStream, Item.UncompressedSize32(), Item.FileName());
  if (Item.CompressionMethod() == 9) options |= dfc_UseDeflate64;
  helper.SetOptions(options);
  helper.SetInputSize(static_cast<int32_t>(std::min<uint32_t>(Item.CompressedSize32(), INT32_MAX)));
  helper.SetOnStepProgress([&Archive](int32_t Percent) { Archive.DoCodecProgress(Percent); });
  TEntryDataStream source(*Archive.Stream(), Item.CompressedSize32());
  int32_t asked = 0;
  if (Item.IsEncrypted()) FirstPassword(Archive, asked);
  for (;;) {
    if (Item.IsEncrypted()) {
      helper.SetPassphrase(Archive.Password());
      helper.SetChecksum(CheckValue);
    }
    try {
      return Inflate(&source, &output, &helper);
    } catch (const EAbInflatePasswordError&) {
      source.Seek(0, TSeekOrigin::soBeginning);
      AskAgain(Archive, asked);
    } catch (const EAbAbortProgress&) {
      throw EAbUserAbort();
    } catch (const EAbInflateError& E) {
      throw EAbBadData("the compressed data of the entry " + Item.FileName() + " (" + E.Cause() + ")");
    }
  }
}

uint32_t AbUnzipLegacyItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, uint32_t CheckValue) {
  std::unique_ptr<TAbZDecoder> decoder;
  if (Item.IsEncrypted()) {
    int32_t asked = 0;
    FirstPassword(Archive, asked);
    decoder = std::make_unique<TAbZDecoder>(Archive.Password(), true, CheckValue);
    decoder->SetRetries(Archive.PasswordRetries());
    if (Archive.OnNeedPassword) {
      decoder->OnNeedPassword = [&Archive](AnsiString& NewPassword) {
        bool abort = false;
        AbNeedPassword(Archive, abort);
        NewPassword = abort ? AnsiString() : Archive.Password();
      };
    }
  }
  TAbUnzipHelper helper(Archive, *Archive.Stream(), OutStream, decoder.get());
  helper.UncompressedSize = Item.UncompressedSize32();
  helper.CompressedSize = Item.CompressedSize32();
  helper.CompressionMethod = static_cast<uint8_t>(std::min<uint16_t>(Item.CompressionMethod(), 255));
  helper.DictionarySize = (Item.GeneralPurposeBitFlag() & 2) != 0 ? 8192 : 4096;
  helper.ShannonFanoTreeCount = (Item.GeneralPurposeBitFlag() & 4) != 0 ? 3 : 2;
  helper.Spanned = Archive.Spanned();
  helper.OnProgress = Archive.OnProgress;
  return helper.Execute();
}

void AbUnzipToStream(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream) {
  const int64_t start = OutStream.Position();
  const bool at_end = start == OutStream.Size();
  uint32_t crc = 0;
  try {
    crc = ExpandEntry(Archive, Item, OutStream);
  } catch (...) {
    Rollback(OutStream, start, at_end);
    throw;
  }
  if (crc != Item.CRC32()) {
    Rollback(OutStream, start, at_end);
    if (Archive.OnProcessItemFailure) {
      Archive.DoProcessItemFailure(&Item, ptExtract, ecArchiveKit, AbZipBadCRC);
      return;
    }
    throw EAbZipBadCRC();
  }
}

void AbUnzipToFile(TAbZipArchive& Archive, TAbZipItem& Item, const AnsiString& UseName) {
  AnsiString name = UseName;
  if (!AbPrepareOutputPath(Archive.BaseDirectory(), name, Archive.ExtractOptions(), Archive.OnConfirmOverwrite))
    return;
  name = AbDiskPath(name);
  // A partial or damaged entry never takes the place of the target: the data goes
  // to a file of its own first.
  const AnsiString temp = AbDiskPath(AbTempFileName(DirectoryOf(name), true));
  try {
    {
      TFileStream file(temp, fmCreate);
      if (ExpandEntry(Archive, Item, file) != Item.CRC32()) throw EAbZipBadCRC();
    }
    if (::rename(AbSysPath(temp).c_str(), AbSysPath(name).c_str()) != 0)
      throw EFCreateError("Cannot create file \"" + name + "\"");
  } catch (const EAbUserAbort&) {
    ::unlink(AbSysPath(temp).c_str());
    Archive.MarkInvalid();
    throw;
  } catch (...) {
    ::unlink(AbSysPath(temp).c_str());
    throw;
  }
  AbFileSetDate(name, static_cast<int32_t>((static_cast<uint32_t>(Item.LastModFileDate()) << 16) |
                                           Item.LastModFileTime()));
  AbWriteFileAttr(name, static_cast<int32_t>(Item.ExternalFileAttributes() & 0xFF));
}

void AbTestZipItem(TAbZipArchive& Archive, TAbZipItem& Item) {
  CheckReadable(Item);
  SwitchDisk(Archive, Item);
  const TAbZipLocalFileHeader lfh = LoadLocalHeader(Archive, Item);
  // Extra fields may differ between the two headers (writers put other time stamps
  // or fields in each); with flag bit 3 the local CRC-32 and sizes may be zero, the
  // real values following the data.
  const bool descriptor = (lfh.GeneralPurposeBitFlag & 8) != 0;
  // A Zip64 writer may put its sizes into the local extra field and mark the
  // 32-bit ones (all bits set).
  const bool zip64_sizes = HasZip64Field(lfh.ExtraField);
  auto agrees = [descriptor](uint32_t Local, uint32_t Central) {
    return Local == Central || (descriptor && Local == 0);
  };
  auto size_agrees = [&](uint32_t Local, uint32_t Central) {
    return agrees(Local, Central) || (zip64_sizes && Local == 0xFFFFFFFFu);
  };
  if (lfh.VersionNeededToExtract != Item.VersionNeededToExtract() ||
      lfh.GeneralPurposeBitFlag != Item.GeneralPurposeBitFlag() || lfh.LastModFileTime != Item.LastModFileTime() ||
      lfh.LastModFileDate != Item.LastModFileDate() || !agrees(lfh.CRC32, Item.CRC32()) ||
      !size_agrees(lfh.CompressedSize, Item.CompressedSize32()) ||
      !size_agrees(lfh.UncompressedSize, Item.UncompressedSize32()) || lfh.FileName != Item.RawFileName())
    throw EAbZipInvalidLFH();
  TAbBitBucketStream bucket(32768);
  AbUnzipToStream(Archive, Item, bucket);
}

// --- TAbZDecoder ---

TAbZDecoder::TAbZDecoder(const AnsiString& Password, bool CheckByte, uint32_t CheckValue)
    : check_value_(CheckValue), check_byte_(CheckByte), password_(Password) {}

void TAbZDecoder::UpdateKeys(uint8_t Plain) {
  keys_[0] = AbCrc32Byte(Plain, keys_[0]);
  keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
  keys_[2] = AbCrc32Byte(static_cast<uint8_t>(keys_[1] >> 24), keys_[2]);
}

uint8_t TAbZDecoder::DecryptByte() const {
  const uint32_t k = (keys_[2] & 0xFFFF) | 2;
  return static_cast<uint8_t>((k * (k ^ 1)) >> 8);
}

void TAbZDecoder::InitKeys() {
  keys_[0] = 0x12345678;
  keys_[1] = 0x23456789;
  keys_[2] = 0x34567890;
  for (const char c : password_) UpdateKeys(static_cast<uint8_t>(c));
}

void TAbZDecoder::DoNeedPassword(AnsiString& NewPassword) {
  if (!OnNeedPassword) throw EAbZipInvalidPassword();
  OnNeedPassword(NewPassword);
}

void TAbZDecoder::DecodeHeader(TStream& Stream, int64_t DataStart) {
  for (int32_t attempt = 1;; ++attempt) {
    InitKeys();
    Stream.Seek(DataStart, TSeekOrigin::soBeginning);
    if (Stream.Read(header_, 12) != 12) throw EAbReadError();
    for (uint8_t& b : header_) {
      b = static_cast<uint8_t>(b ^ DecryptByte());
      UpdateKeys(b);
    }
    const bool ok = check_byte_ ? header_[11] == static_cast<uint8_t>(check_value_ >> 24)
                                : header_[11] == static_cast<uint8_t>(check_value_ >> 24) &&
                                      header_[10] == static_cast<uint8_t>(check_value_ >> 16);
    if (ok) return;
    if (attempt >= retries_) break;
    AnsiString answer;
    DoNeedPassword(answer);
    if (answer.empty()) throw EAbUserAbort();
    password_ = answer;
  }
  throw EAbZipInvalidPassword();
}

void TAbZDecoder::DecodeBuffer(uint8_t* Buffer, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) {
    const uint8_t plain = static_cast<uint8_t>(Buffer[i] ^ DecryptByte());
    UpdateKeys(plain);
    Buffer[i] = plain;
  }
}

// --- TAbUnzipHelper ---

TAbUnzipHelper::TAbUnzipHelper(TAbZipArchive& Archive, TStream& InputStream, TStream& OutputStream,
                               TAbZDecoder* Decoder)
    : archive_(Archive), input_(&InputStream), output_(OutputStream), decoder_(Decoder) {}

void TAbUnzipHelper::DoProgress(uint8_t Progress, bool& Abort) {
  Abort = false;
  if (Progress == progress_) return;
  progress_ = Progress;
  if (OnProgress) OnProgress(Progress, Abort);
}

void TAbUnzipHelper::Refill() {
  in_pos_ = 0;
  in_count_ = 0;
  if (bytes_left_ <= 0) {
    input_ended_ = true;
    return;
  }
  int64_t remaining = input_->Size() - input_->Position();
  if (remaining <= 0 && Spanned) {
    // The entry goes on on the next volume.
    if (dynamic_cast<TFileStream*>(input_) == nullptr && dynamic_cast<TAbSpanStream*>(input_) == nullptr)
      throw EAbZipBadSpanStream();
    archive_.OpenVolume(archive_.CurrentDisk() + 1);
    archive_.SetCurrentDisk(static_cast<uint16_t>(archive_.CurrentDisk() + 1));
    input_ = archive_.Stream();
    remaining = input_->Size() - input_->Position();
  }
  const auto want = static_cast<int32_t>(std::min<int64_t>({bytes_left_, int64_t{4096}, remaining}));
  const int32_t got = want > 0 ? input_->Read(in_buf_, want) : 0;
  if (got <= 0) throw EAbReadError();
  if (decoder_ != nullptr) decoder_->DecodeBuffer(in_buf_, got);
  in_count_ = got;
  bytes_left_ -= got;
}

uint32_t TAbUnzipHelper::ReadBits(int32_t Count) {
  while (bit_count_ < Count) {
    if (in_pos_ >= in_count_) {
      if (!input_ended_) Refill();
      if (input_ended_) {
        // Past the end the bits read as zeros; the caller stops at the end.
        bit_count_ = Count;
        break;
      }
    }
    bit_buf_ |= static_cast<uint32_t>(in_buf_[in_pos_++]) << bit_count_;
    bit_count_ += 8;
  }
  const uint32_t value = bit_buf_ & ((1u << Count) - 1);
  bit_buf_ >>= Count;
  bit_count_ -= Count;
  return value;
}

void TAbUnzipHelper::PutByte(uint8_t Byte) {
  out_buf_[out_fill_++] = Byte;
  history_[total_out_ & (kHistory - 1)] = Byte;
  ++total_out_;
  if (out_fill_ == static_cast<int32_t>(sizeof out_buf_) || total_out_ == UncompressedSize) FlushOutput();
}

void TAbUnzipHelper::CopyBack(uint32_t Distance, uint32_t Length) {
  if (Distance == 0 || Distance > kHistory) Corrupt();
  for (uint32_t i = 0; i < Length && !OutputDone(); ++i) {
    // Bytes before the start of the output read as 0.
    const uint8_t b = Distance > total_out_ ? 0 : history_[(total_out_ - Distance) & (kHistory - 1)];
    PutByte(b);
  }
}

void TAbUnzipHelper::FlushOutput() {
  if (out_fill_ == 0) return;
  output_.WriteBuffer(out_buf_, out_fill_);
  AbCrc32Buffer(crc_, out_buf_, out_fill_);
  out_fill_ = 0;
  bool abort = false;
  DoProgress(static_cast<uint8_t>(AbRoundedPercent(total_out_, UncompressedSize)), abort);
  if (abort) throw EAbUserAbort();
}

uint32_t TAbUnzipHelper::Execute() {
  bit_buf_ = 0;
  bit_count_ = 0;
  in_pos_ = in_count_ = 0;
  input_ended_ = false;
  out_fill_ = 0;
  total_out_ = 0;
  crc_ = 0xFFFFFFFF;
  bytes_left_ = CompressedSize;
  history_ = std::make_unique<uint8_t[]>(kHistory);
  if (decoder_ != nullptr) {
    decoder_->DecodeHeader(*input_, input_->Position());
    bytes_left_ -= 12;
    if (bytes_left_ < 0) Corrupt();
  }
  switch (CompressionMethod) {
    case 1: Unshrink(); break;
    case 2:
    case 3:
    case 4:
    case 5: Unreduce(); break;
    case 6: Explode(); break;
    default: throw EAbZipInvalidMethod();
  }
  FlushOutput();
  history_.reset();
  return ~crc_;
}

// Dynamic LZW with partial clearing: 9- to 13-bit codes, 256 the control code.
void TAbUnzipHelper::Unshrink() {
  constexpr int32_t kTableSize = 8192;
  constexpr int16_t kFree = -1;
  std::vector<int16_t> prefix(kTableSize, kFree);
  std::vector<uint8_t> suffix(kTableSize, 0);
  std::vector<uint8_t> stack(kTableSize + 1);
  std::vector<bool> has_child(kTableSize);
  for (int32_t i = 0; i < 256; ++i) {
    prefix[static_cast<size_t>(i)] = 0;
    suffix[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  }
  int32_t code_size = 9;
  int32_t free_code = 257;
  if (OutputDone()) return;
  int32_t prev = static_cast<int32_t>(ReadBits(code_size));
  if (InputEnded()) return;
  if (prev > 255) Corrupt();
  PutByte(static_cast<uint8_t>(prev));
  while (!OutputDone()) {
    const auto code = static_cast<int32_t>(ReadBits(code_size));
    if (InputEnded()) break;
    if (code == 256) {
      const uint32_t control = ReadBits(code_size);
      if (InputEnded()) break;
      if (control == 1) {
        if (++code_size > 13) Corrupt();
      } else if (control == 2) {
        // Partial clear: every code that is no other entry's prefix becomes free.
        std::fill(has_child.begin(), has_child.end(), false);
        for (int32_t c = 257; c < kTableSize; ++c) {
          const int16_t p = prefix[static_cast<size_t>(c)];
          if (p != kFree && p > 256) has_child[static_cast<size_t>(p)] = true;
        }
        for (int32_t c = 257; c < kTableSize; ++c) {
          if (!has_child[static_cast<size_t>(c)]) prefix[static_cast<size_t>(c)] = kFree;
        }
        free_code = 257;
        while (free_code < kTableSize && prefix[static_cast<size_t>(free_code)] != kFree) ++free_code;
      } else {
        Corrupt();
      }
      continue;
    }
    // The string of the code, last byte first on the stack.
    int32_t c = code;
    bool repeat_first = false;
    if (c > 256 && prefix[static_cast<size_t>(c)] == kFree) {
      // A code not yet in the table: the previous string plus its own first byte.
      repeat_first = true;
      c = prev;
    }
    size_t depth = 0;
    while (c > 256) {
      if (prefix[static_cast<size_t>(c)] == kFree || depth >= kTableSize) Corrupt();
      stack[depth++] = suffix[static_cast<size_t>(c)];
      c = prefix[static_cast<size_t>(c)];
    }
    if (c == 256) Corrupt();
    stack[depth++] = static_cast<uint8_t>(c);
    const uint8_t first = stack[depth - 1];
    while (depth > 0 && !OutputDone()) PutByte(stack[--depth]);
    if (repeat_first && !OutputDone()) PutByte(first);
    if (free_code < kTableSize) {
      prefix[static_cast<size_t>(free_code)] = static_cast<int16_t>(prev);
      suffix[static_cast<size_t>(free_code)] = first;
      do {
        ++free_code;
      } while (free_code < kTableSize && prefix[static_cast<size_t>(free_code)] != kFree);
    }
    prev = code;
  }
}

// Follower sets and the run-length expansion of reduction factors 1 to 4.
void TAbUnzipHelper::Unreduce() {
  const int32_t factor = CompressionMethod - 1;
  static constexpr uint32_t kMasks[4] = {0x7F, 0x3F, 0x1F, 0x0F};
  const uint32_t mask = kMasks[factor - 1];
  uint8_t followers[256][32];
  uint8_t counts[256];
  for (int32_t j = 255; j >= 0; --j) {
    const uint32_t n = ReadBits(6);
    if (n > 32) Corrupt();
    counts[j] = static_cast<uint8_t>(n);
    for (uint32_t k = 0; k < n; ++k) followers[j][k] = static_cast<uint8_t>(ReadBits(8));
  }
  auto index_bits = [](uint32_t n) {
    int32_t bits = 0;
    while ((1u << bits) < n) ++bits;  // bits needed for n - 1
    return std::max(bits, 1);
  };
  uint8_t last = 0;
  int32_t state = 0;
  uint32_t v = 0;
  uint32_t length = 0;
  while (!OutputDone() && !InputEnded()) {
    uint8_t b;
    if (counts[last] == 0) {
      b = static_cast<uint8_t>(ReadBits(8));
    } else if (ReadBits(1) != 0) {
      b = static_cast<uint8_t>(ReadBits(8));
    } else {
      const uint32_t index = ReadBits(index_bits(counts[last]));
      if (InputEnded()) break;
      if (index >= counts[last]) Corrupt();
      b = followers[last][index];
    }
    if (InputEnded()) break;
    last = b;
    switch (state) {
      case 0:
        if (b == 144)
          state = 1;
        else
          PutByte(b);
        break;
      case 1:
        if (b == 0) {
          PutByte(144);
          state = 0;
        } else {
          v = b;
          length = v & mask;
          state = length == mask ? 2 : 3;
        }
        break;
      case 2:
        length += b;
        state = 3;
        break;
      default: {
        const uint32_t distance = (v >> (8 - factor)) * 256 + b + 1;
        CopyBack(distance, length + 3);
        state = 0;
        break;
      }
    }
  }
}

namespace {

// A Shannon-Fano tree of the implode method: values with their bit lengths and
// codes (already bit-reversed, so that they compare with bits as they are read).
struct TSFTree {
  struct Entry {
    uint16_t value;
    uint8_t length;
    uint16_t code;
  };
  std::vector<Entry> entries;
  // Index of the first entry of each length in the sorted entries; [17] the end.
  int32_t first[18] = {};
};

uint16_t Reverse16(uint16_t v) {
  uint16_t r = 0;
  for (int i = 0; i < 16; ++i) r = static_cast<uint16_t>(r | (((v >> i) & 1) << (15 - i)));
  return r;
}

}  // namespace

void TAbUnzipHelper::Explode() {
  auto read_tree = [this](int32_t Size) {
    TSFTree tree;
    const uint32_t bytes = ReadBits(8) + 1;
    for (uint32_t i = 0; i < bytes; ++i) {
      const uint32_t b = ReadBits(8);
      const uint32_t repeat = (b >> 4) + 1;
      const auto length = static_cast<uint8_t>((b & 0x0F) + 1);
      for (uint32_t r = 0; r < repeat; ++r) {
        if (static_cast<int32_t>(tree.entries.size()) >= Size) Corrupt();
        tree.entries.push_back({static_cast<uint16_t>(tree.entries.size()), length, 0});
      }
    }
    if (InputEnded() || static_cast<int32_t>(tree.entries.size()) != Size) Corrupt();
    std::stable_sort(tree.entries.begin(), tree.entries.end(),
                     [](const TSFTree::Entry& a, const TSFTree::Entry& b) { return a.length < b.length; });
    uint32_t code = 0;
    uint32_t increment = 0;
    uint8_t last_length = 0;
    for (auto it = tree.entries.rbegin(); it != tree.entries.rend(); ++it) {
      code += increment;
      if (it->length != last_length) {
        last_length = it->length;
        increment = 1u << (16 - last_length);
      }
      it->code = Reverse16(static_cast<uint16_t>(code & 0xFFFF));
    }
    int32_t index = 0;
    for (int32_t len = 0; len <= 17; ++len) {
      while (index < Size && tree.entries[static_cast<size_t>(index)].length < len) ++index;
      tree.first[len] = index;
    }
    return tree;
  };
  auto decode = [this](const TSFTree& Tree) -> uint32_t {
    uint32_t bits = 0;
    for (int32_t n = 1; n <= 16; ++n) {
      bits |= ReadBits(1) << (n - 1);
      const uint32_t mask = (1u << n) - 1;
      for (int32_t i = Tree.first[n]; i < Tree.first[n + 1]; ++i) {
        const TSFTree::Entry& e = Tree.entries[static_cast<size_t>(i)];
        if ((e.code & mask) == bits) return e.value;
      }
    }
    return 0;
  };

  const bool literal_tree = ShannonFanoTreeCount == 3;
  const int32_t low_bits = DictionarySize == 8192 ? 7 : 6;
  const uint32_t min_match = literal_tree ? 3 : 2;
  TSFTree literals;
  if (literal_tree) literals = read_tree(256);
  const TSFTree lengths = read_tree(64);
  const TSFTree distances = read_tree(64);
  while (!OutputDone()) {
    if (ReadBits(1) != 0) {
      const uint32_t literal = literal_tree ? decode(literals) : ReadBits(8);
      if (InputEnded()) break;
      PutByte(static_cast<uint8_t>(literal));
    } else {
      uint32_t distance = ReadBits(low_bits);
      distance |= decode(distances) << low_bits;
      uint32_t length = decode(lengths);
      if (length == 63) length += ReadBits(8);
      length += min_match;
      if (InputEnded()) break;
      CopyBack(distance + 1, length);
    }
  }
}

}  // namespace pelvar
