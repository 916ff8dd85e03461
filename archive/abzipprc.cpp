#include "archive/abzipprc.h"

#include <algorithm>
#include <climits>
#include <memory>

#include "archive/abdfbase.h"
#include "archive/abdfcrys.h"
#include "archive/abdfenc.h"
#include "archive/abspanstream.h"
#include "archive/abutils.h"
#include "archive/abvmstream.h"
#include "platform/dateutils.h"

namespace pelvar {

namespace {

constexpr int64_t kMax32 = 0xFFFFFFFFll;
constexpr int32_t kBlockSize = 1024;

// The directory that the archive's work streams spill into.
AnsiString SwapDirectoryOf(const TAbZipArchive& Archive) {
  const AnsiString temp = AbDiskPath(AbTempFileName(Archive.TempDirectory(), false));
  const size_t slash = temp.find_last_of('/');
  if (slash == AnsiString::npos) return AnsiString();
  return slash == 0 ? AnsiString("/") : temp.substr(0, slash);
}

// The check value of the encryption header: the entry's time in the high 16 bits
// (the entry carries a data descriptor, flag bit 3).
uint32_t TimeCheckValue(const TAbZipItem& Item) { return static_cast<uint32_t>(Item.LastModFileTime()) << 16; }

void SetDosDateTime(TAbZipItem& Item, int32_t DosDateTime) {
  Item.SetLastModFileTime(static_cast<uint16_t>(static_cast<uint32_t>(DosDateTime) & 0xFFFF));
  Item.SetLastModFileDate(static_cast<uint16_t>(static_cast<uint32_t>(DosDateTime) >> 16));
}

}  // namespace

uint8_t AbRoundedPercent(int64_t Done, int64_t Whole) {
  if (Whole <= 0) return 0;
  const int64_t scaled = Done * 100;
  int64_t q = scaled / Whole;
  const int64_t r = scaled % Whole;
  if (2 * r > Whole || (2 * r == Whole && (q & 1) != 0)) ++q;
  return static_cast<uint8_t>(std::clamp<int64_t>(q, 0, 100));
}

void AbDeflateItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, TStream& InStream) {
  Item.SetCompressionMethod(8);
  TAbDeflateHelper helper;
  if (!Archive.Password().empty()) helper.SetPassphrase(Archive.Password());
  helper.SetInputSize(static_cast<int32_t>(std::min<int64_t>(InStream.Size(), INT32_MAX)));
  helper.SetPresetLetter('0');
  uint16_t flag_bits = 0;
  switch (Archive.DeflationOption()) {
    case doNormal: helper.SetPresetLetter('n'); break;
    case doMaximum:
      helper.SetPresetLetter('x');
      flag_bits = 2;
      break;
    case doFast:
      helper.SetPresetLetter('f');
      flag_bits = 4;
      break;
    case doSuperFast:
      helper.SetPresetLetter('s');
      flag_bits = 6;
      break;
    case doInvalid: break;
  }
  Item.SetGeneralPurposeBitFlag(static_cast<uint16_t>(Item.GeneralPurposeBitFlag() | flag_bits));
  helper.SetOnStepProgress([&Archive](int32_t Percent) { Archive.DoCodecProgress(Percent); });
  helper.SetChecksum(TimeCheckValue(Item));
  try {
    Item.SetCRC32(Deflate(&InStream, &OutStream, &helper));
  } catch (const EAbAbortProgress&) {
    throw EAbUserAbort();
  }
}

void AbStoreItem(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, TStream& InStream) {
  Item.SetCompressionMethod(0);
  std::unique_ptr<TAbDfEncryptStream> encrypt;
  TStream* out = &OutStream;
  if (!Archive.Password().empty()) {
    encrypt = std::make_unique<TAbDfEncryptStream>(&OutStream, Archive.Password(), TimeCheckValue(Item));
    out = encrypt.get();
  }
  const int64_t total = InStream.Size() - InStream.Position();
  uint8_t buffer[kBlockSize];
  uint32_t crc = 0xFFFFFFFF;
  int64_t done = 0;
  int32_t last = -1;
  for (;;) {
    const int32_t got = InStream.Read(buffer, kBlockSize);
    if (got <= 0) break;
    AbCrc32Buffer(crc, buffer, got);
    out->WriteBuffer(buffer, got);
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
  Item.SetCRC32(~crc);
}

void AbZipFromStream(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream, TStream* InStream) {
  if (InStream == nullptr) throw EAbZipNoInsertion();
  // The entry is the whole stream, wherever the caller left its position.
  InStream->Seek(0, TSeekOrigin::soBeginning);
  const int64_t size = InStream->Size();
  if (size > kMax32)
    throw EAbZipException("The file " + Item.FileName() +
                              " is larger than the 4 GB that a zip entry can hold; nothing was written",
                          0);

  TAbVirtualMemoryStream work;
  work.SetSwapFileDirectory(SwapDirectoryOf(Archive));
  std::unique_ptr<TAbVirtualMemoryStream> fallback;
  TStream* data = &work;

  Item.SetUncompressedSize32(static_cast<uint32_t>(size));
  Item.SetGeneralPurposeBitFlag(0);
  Item.SetCompressedSize32(0);
  const bool from_file = dynamic_cast<TFileStream*>(InStream) != nullptr;
  if (!from_file || dynamic_cast<TAbSpanStream*>(InStream) != nullptr) {
    SetDosDateTime(Item, AbDateTimeToFileDate(Now()));
    Item.SetExternalFileAttributes(0);
  }
  // MS-DOS host, version 2.0: the external attributes are DOS attributes.
  Item.SetVersionMadeBy(20);

  if (size > 0) {
    switch (Archive.CompressionMethodToUse()) {
      case smStored: AbStoreItem(Archive, Item, work, *InStream); break;
      case smDeflated: AbDeflateItem(Archive, Item, work, *InStream); break;
      case smBestMethod: {
        const int64_t start = InStream->Position();
        AbDeflateItem(Archive, Item, work, *InStream);
        if (work.Size() > size) {
          // Deflating made it larger: the entry is stored instead.
          InStream->Seek(start, TSeekOrigin::soBeginning);
          fallback = std::make_unique<TAbVirtualMemoryStream>();
          fallback->SetSwapFileDirectory(SwapDirectoryOf(Archive));
          data = fallback.get();
          AbStoreItem(Archive, Item, *fallback, *InStream);
        }
        break;
      }
    }
  } else {
    Item.SetCompressionMethod(0);
    Item.SetCRC32(0);
    // An encrypted entry always carries its 12-byte header, an empty one too: readers
    // expect it whenever flag bit 0 is set.
    if (!Archive.Password().empty()) AbStoreItem(Archive, Item, work, *InStream);
  }

  Item.SetVersionNeededToExtract(Item.CompressionMethod() == 8 ? 20 : 10);
  if (!Archive.Password().empty())
    Item.SetGeneralPurposeBitFlag(static_cast<uint16_t>(Item.GeneralPurposeBitFlag() | 9));

  const int64_t before = OutStream.Size();
  if (data->Size() > 0) {
    data->Seek(0, TSeekOrigin::soBeginning);
    OutStream.CopyFrom(*data, data->Size());
  }
  const int64_t written = OutStream.Size() - before;
  if (written > kMax32)
    throw EAbZipException("The compressed data of " + Item.FileName() +
                              " is larger than the 4 GB that a zip entry can hold; nothing was written",
                          0);
  Item.SetCompressedSize32(static_cast<uint32_t>(written));
  Item.SetInternalFileAttributes(0);
}

void AbZipFromFile(TAbZipArchive& Archive, TAbZipItem& Item, TStream& OutStream) {
  // The disk file name is a full path as the item was made; a relative one is taken
  // from the archive's base directory (without changing the process's directory).
  AnsiString path = AbDiskPath(Item.DiskFileName());
  if (!Archive.BaseDirectory().empty() && (path.empty() || path[0] != '/'))
    path = AbDiskPath(AbWithTrailingBackslash(Archive.BaseDirectory())) + path;
  TFileStream file(path, fmOpenRead | fmShareDenyWrite);
  const int32_t attributes = AbReadFileAttr(path);
  Item.SetExternalFileAttributes(attributes < 0 ? 0 : static_cast<uint32_t>(attributes));
  const int64_t size = file.Size();
  Item.SetUncompressedSize32(static_cast<uint32_t>(std::min<int64_t>(size, kMax32)));
  const int32_t age = AbFileAge(path);
  SetDosDateTime(Item, age == -1 ? AbDateTimeToFileDate(Now()) : age);
  AbZipFromStream(Archive, Item, OutStream, &file);
}

}  // namespace pelvar
