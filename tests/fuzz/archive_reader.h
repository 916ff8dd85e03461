// Reads an archive file as the wizard does, through the zip kit: load, list every
// entry, extract every entry to memory, close. A damaged archive may fail with the
// project's exceptions (a clear error); anything else escapes and is a finding.
#pragma once

#include <cstdint>

#include "archive/abzipkit.h"
#include "platform/streams.h"

namespace pelvar::fuzz {

inline void ReadArchiveThroughKit(const AnsiString& path, uint8_t type, bool tar_auto) {
  TAbZipKit kit(nullptr);
  kit.SetForceType(true);
  kit.SetArchiveType(type);
  kit.SetTarAutoHandle(tar_auto);
  // Encrypted entries get a password, so that decryption is walked too.
  kit.SetPassword("pelvar");
  kit.SetPasswordRetries(1);
  try {
    kit.SetFileName(path);
    for (int32_t i = 0; i < kit.Count(); ++i) {
      TAbArchiveItem* item = kit.GetItem(i);
      volatile uint64_t sink = item->FileName().size() + item->CompressedSize() + item->UncompressedSize() +
                               item->CRC32() + item->LastModFileDate() + item->IsEncrypted();
      (void)sink;
    }
    for (int32_t i = 0; i < kit.Count(); ++i) {
      TMemoryStream out;
      kit.ExtractToStream(kit.GetItem(i)->FileName(), out);
    }
  } catch (const Exception&) {
  }
  try {
    kit.CloseArchive();
  } catch (const Exception&) {
  }
}

}  // namespace pelvar::fuzz
