// The inflate decoder: decompresses one Deflate (RFC 1951) or Deflate64 stream,
// optionally decrypting it first or only testing it.
#pragma once

#include <cstdint>

#include "archive/abdfbase.h"
#include "archive/abdfhufd.h"
#include "archive/abdfoutw.h"
#include "archive/abdfstrm.h"

namespace pelvar {

// Decompresses the stream at Source's position into Dest and returns the checksum of
// the decompressed data (CRC-32, or Adler-32 with Options bit 5). Source is left just
// after the compressed data. Helper may be null (the defaults); the caller's helper
// receives CompressedCount and UncompressedCount.
// Corrupt data raises EAbInflateError; a wrong pass phrase EAbInflatePasswordError;
// reaching PartialLimit returns 0; an abort from the progress callback
// (EAbAbortProgress) propagates.
uint32_t Inflate(TStream* Source, TStream* Dest, TAbDeflateHelper* Helper);

// The block routines, each reading one block's body from the bit stream.
void InflateStoredBlock(TAbDfInBitStream& InBits, TAbDfOutputWindow& OutWindow);
void InflateStaticBlock(TAbDfInBitStream& InBits, TAbDfOutputWindow& OutWindow, bool Deflate64);
void InflateDynamicBlock(TAbDfInBitStream& InBits, TAbDfOutputWindow& OutWindow, bool Deflate64);

}  // namespace pelvar
