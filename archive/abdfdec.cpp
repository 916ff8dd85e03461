#include "archive/abdfdec.h"

#include <memory>

#include "archive/abdfcrys.h"
#include "archive/abdfxlat.h"

namespace pelvar {

namespace {

[[noreturn]] void Fail(const char* cause) { throw EAbInternalInflateError(cause); }

// Decodes literals and matches up to the end-of-block symbol. The bit-stream state and
// the output position live in locals here and are handed back before anything else
// may look at them (slides, refills from the stream, failures).
void DecodeData(TAbDfInBitStream& in, TAbDfOutputWindow& win, const TAbDfDecodeHuffmanTree& lit_tree,
                const TAbDfDecodeHuffmanTree& dist_tree, bool deflate64) {
  TAbDfInBitStream::State& raw = in.Raw();
  uint64_t bits = raw.bits;
  uint32_t count = raw.count;
  const uint8_t* next = raw.next;
  const uint8_t* end = raw.end;
  uint8_t* out = win.Fill();
  uint8_t* limit = win.Limit();
  uint8_t* start = win.Start();

  const uint32_t* lit_table = lit_tree.DecodeTable();
  const uint32_t lit_mask = lit_tree.RootMask();
  const uint32_t lit_root = static_cast<uint32_t>(lit_tree.RootBits());
  const uint32_t* dist_table = dist_tree.DecodeTable();
  const uint32_t dist_mask = dist_tree.RootMask();
  const uint32_t dist_root = static_cast<uint32_t>(dist_tree.RootBits());

  auto save = [&] {
    raw.bits = bits;
    raw.count = count;
    raw.next = next;
    raw.end = end;
    win.SetFill(out);
  };
  auto load = [&] {
    bits = raw.bits;
    count = raw.count;
    next = raw.next;
    end = raw.end;
    out = win.Fill();
    limit = win.Limit();
    start = win.Start();
  };
  auto refill = [&] {
    if (end - next >= 8) {
      uint64_t w;
      std::memcpy(&w, next, 8);
#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
      w = __builtin_bswap64(w);
#endif
      bits |= w << count;
      next += (63 - count) >> 3;
      count |= 56;
    } else {
      save();
      in.RefillSlow();
      load();
    }
  };
  auto fail = [&](const char* cause) {
    save();
    Fail(cause);
  };
  constexpr const char* kNoMoreData = "no more compressed data in stream [TAbDfInBitStream.DiscardBits]";

  for (;;) {
    if (count < 32) refill();
    uint32_t e = lit_table[bits & lit_mask];
    uint32_t len = (e >> 16) & 0xFF;
    if (__builtin_expect(len & 0x80, 0)) {
      if (len == 0xFF) fail("decoded an invalid length symbol: greater than 285 [DecodeData]");
      e = lit_table[(e & 0xFFFF) + ((bits >> lit_root) & ((1u << (len & 0x7F)) - 1))];
      len = (e >> 16) & 0xFF;
    }
    const uint32_t sym = e & 0xFFFF;
    if (sym < 256) {
      if (__builtin_expect(len > count, 0)) fail(kNoMoreData);
      bits >>= len;
      count -= len;
      *out++ = static_cast<uint8_t>(sym);
      if (__builtin_expect(out >= limit, 0)) {
        save();
        win.Overflow();
        load();
      }
      continue;
    }
    if (sym == 256) {
      if (len > count) fail(kNoMoreData);
      bits >>= len;
      count -= len;
      break;
    }
    if (sym > 285) fail("decoded an invalid length symbol: greater than 285 [DecodeData]");
    // The length: its base plus the extra bits right above the code.
    uint32_t extra = e >> 24;
    uint32_t length;
    if (sym == 285 && !deflate64) {
      extra = 0;
      length = 258;
    } else {
      if (count < len + extra) refill();
      length = dfc_LengthBase[sym - 257] + static_cast<uint32_t>((bits >> len) & ((uint64_t{1} << extra) - 1));
    }
    if (__builtin_expect(len + extra > count, 0)) fail(kNoMoreData);
    bits >>= len + extra;
    count -= len + extra;

    if (count < 32) refill();
    e = dist_table[bits & dist_mask];
    len = (e >> 16) & 0xFF;
    if (__builtin_expect(len & 0x80, 0)) {
      if (len == 0xFF) fail("decoded an invalid distance symbol: no code has it [DecodeData]");
      e = dist_table[(e & 0xFFFF) + ((bits >> dist_root) & ((1u << (len & 0x7F)) - 1))];
      len = (e >> 16) & 0xFF;
    }
    const uint32_t dsym = e & 0xFFFF;
    if (dsym == 0xFFFF) fail("decoded an invalid distance symbol: no code has it [DecodeData]");
    if (!deflate64 && dsym > 29) fail("decoded an invalid distance symbol: greater than 29 [DecodeData]");
    extra = e >> 24;
    if (__builtin_expect(len + extra > count, 0)) fail(kNoMoreData);
    const uint32_t dist = dfc_DistanceBase[dsym] + static_cast<uint32_t>((bits >> len) & ((uint64_t{1} << extra) - 1));
    bits >>= len + extra;
    count -= len + extra;
    if (__builtin_expect(dist > static_cast<uint32_t>(out - start), 0))
      fail("distance is farther back than the data produced [DecodeData]");

    // The window has room for the longest match plus scratch space above the write
    // point, and out is below the write point here.
    const uint8_t* src = out - dist;
    uint8_t* dst = out;
    out += length;
    if (dist >= 16) {
      do {
        std::memcpy(dst, src, 16);
        dst += 16;
        src += 16;
      } while (dst < out);
    } else if (dist >= 8) {
      do {
        std::memcpy(dst, src, 8);
        dst += 8;
        src += 8;
      } while (dst < out);
    } else if (dist == 1) {
      std::memset(dst, *src, length);
    } else {
      for (uint32_t i = 0; i < length; ++i) dst[i] = src[i];
    }
    if (__builtin_expect(out >= limit, 0)) {
      save();
      win.Overflow();
      load();
    }
  }
  save();
}

}  // namespace

void InflateStoredBlock(TAbDfInBitStream& InBits, TAbDfOutputWindow& OutWindow) {
  InBits.SkipToByteBoundary();
  const uint32_t len = InBits.ReadBits(16);
  const uint32_t nlen = InBits.ReadBits(16);
  if ((len ^ 0xFFFF) != nlen)
    Fail("invalid stored block (length and NOT length do not match) [InflateStoredBlock]");
  uint8_t transfer[16384];
  int32_t left = static_cast<int32_t>(len);
  while (left > 0) {
    const int32_t n = left < 16384 ? left : 16384;
    InBits.ReadBuffer(transfer, n);
    OutWindow.AppendBytes(transfer, n);
    left -= n;
  }
}

void InflateStaticBlock(TAbDfInBitStream& InBits, TAbDfOutputWindow& OutWindow, bool Deflate64) {
  DecodeData(InBits, OutWindow, AbStaticLitLenTree(), AbStaticDistTree(), Deflate64);
}

namespace {

// Reads Count code lengths through the code-length tree into lengths[0..Count).
void ReadLitDistCodeLengths(TAbDfInBitStream& in, const TAbDfDecodeHuffmanTree& tree, uint8_t* lengths,
                            int32_t Count) {
  std::memset(lengths, 0, static_cast<size_t>(Count));
  const int32_t peek = tree.LookupBitLength() + 7;
  int32_t i = 0;
  while (i < Count) {
    const uint32_t e = tree.Lookup(in.PeekBits(peek > 32 ? 32 : peek));
    const uint32_t sym = e & 0xFFFF;
    const int32_t len = static_cast<int32_t>((e >> 16) & 0xFF);
    if (sym > 18) Fail("decoded a symbol not between 0 and 18 {ReadLitDistCodeLengths}");
    if (len == 0 || len > tree.LookupBitLength())
      Fail("decoded a code length out of range {ReadLitDistCodeLengths}");
    if (sym < 16) {
      in.DiscardBits(len);
      lengths[i++] = static_cast<uint8_t>(sym);
      continue;
    }
    int32_t repeat;
    uint8_t value = 0;
    if (sym == 16) {
      if (i == 0) Fail("repeat of the previous code length with no previous length {ReadLitDistCodeLengths}");
      value = lengths[i - 1];
      in.DiscardBits(len);
      repeat = 3 + static_cast<int32_t>(in.ReadBits(2));
    } else if (sym == 17) {
      in.DiscardBits(len);
      repeat = 3 + static_cast<int32_t>(in.ReadBits(3));
    } else {
      in.DiscardBits(len);
      repeat = 11 + static_cast<int32_t>(in.ReadBits(7));
    }
    if (i + repeat > Count) Fail("repeated code lengths run past the count of lengths {ReadLitDistCodeLengths}");
    std::memset(lengths + i, value, static_cast<size_t>(repeat));
    i += repeat;
  }
}

}  // namespace

void InflateDynamicBlock(TAbDfInBitStream& InBits, TAbDfOutputWindow& OutWindow, bool Deflate64) {
  const int32_t hlit = static_cast<int32_t>(InBits.ReadBits(5)) + 257;
  const int32_t hdist = static_cast<int32_t>(InBits.ReadBits(5)) + 1;
  const int32_t hclen = static_cast<int32_t>(InBits.ReadBits(4)) + 4;
  if (hlit > 286) Fail("count of literal codes in dynamic block is greater than 286 [InflateDynamicBlock]");
  if (!Deflate64 && hdist > 30)
    Fail("count of distance codes in dynamic block is greater than 30 [InflateDynamicBlock]");

  static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  uint8_t cl_lengths[19] = {};
  for (int32_t i = 0; i < hclen; ++i) cl_lengths[kOrder[i]] = static_cast<uint8_t>(InBits.ReadBits(3));
  TAbDfDecodeHuffmanTree cl_tree(19, huDecoding, 7);
  cl_tree.Build(cl_lengths, 0, 19, nullptr, 0);

  uint8_t lengths[286 + 32];
  ReadLitDistCodeLengths(InBits, cl_tree, lengths, hlit + hdist);

  TAbDfDecodeHuffmanTree lit_tree(286, huDecoding, 15);
  lit_tree.Build(lengths, 0, hlit, dfc_LengthExtraBits, 257);
  TAbDfDecodeHuffmanTree dist_tree(Deflate64 ? 32 : 30, huDecoding, 15);
  dist_tree.Build(lengths, hlit, hdist, dfc_DistanceExtraBits, 0);
  DecodeData(InBits, OutWindow, lit_tree, dist_tree, Deflate64);
}

uint32_t Inflate(TStream* Source, TStream* Dest, TAbDeflateHelper* Helper) {
  AbAssert(Source != nullptr, "Inflate: aSource stream cannot be nil");
  AbAssert(Dest != nullptr, "Inflate: aDest stream cannot be nil");

  TAbDeflateHelper helper;
  if (Helper) helper.CopyFrom(*Helper);
  int64_t input_size = helper.InputSize();
  if (!helper.OnStepProgress())
    input_size = 0;
  else if (input_size == -1)
    input_size = Source->Size();
  const int64_t source_start = Source->Position();
  const int64_t dest_start = Dest->Position();
  const bool test_only = (helper.Options() & dfc_TestOnly) != 0;

  std::unique_ptr<TAbLogger> log;
  if (!helper.LogFileName().empty()) {
    log = std::make_unique<TAbLogger>(helper.LogFileName());
    log->LogLine("INFLATING STREAM...");
    log->LogLine("Need to recompile the app with UseLogging turned on");
  }

  std::unique_ptr<TAbDfDecryptStream> decrypt;
  TStream* input = Source;
  if (!helper.Passphrase().empty()) {
    decrypt = std::make_unique<TAbDfDecryptStream>(Source, helper.Passphrase(), helper.Checksum());
    if (!decrypt->CheckHeader()) throw EAbInflatePasswordError();
    input = decrypt.get();
  }

  uint32_t result = 0;
  int64_t total_out = 0;
  {
    TAbDfInBitStream in(input, input_size, helper.OnStepProgress());
    TAbDfOutputWindow window(Dest, log.get(), test_only, helper.PartialLimit(),
                             (helper.Options() & dfc_UseAdler32) == 0, (helper.Options() & dfc_UseDeflate64) != 0);
    const bool deflate64 = (helper.Options() & dfc_UseDeflate64) != 0;
    try {
      bool final_block = false;
      while (!final_block) {
        final_block = in.ReadBits(1) != 0;
        switch (in.ReadBits(2)) {
          case 0: InflateStoredBlock(in, window); break;
          case 1: InflateStaticBlock(in, window, deflate64); break;
          case 2: InflateDynamicBlock(in, window, deflate64); break;
          default: throw EAbInternalInflateError("starting new block, but invalid block type [Inflate]");
        }
      }
      result = window.FinalChecksum();
      total_out = window.TotalOut();
    } catch (const EAbPartSizedInflate&) {
      window.Flush();
      total_out = window.TotalOut();
      result = 0;
    } catch (const EAbInternalInflateError& e) {
      try {
        window.Flush();
      } catch (...) {
      }
      if (log) log->LogLine("Internal exception raised: " + e.Message());
      throw EAbInflateError(e.Message());
    } catch (...) {
      // Anything else, a user abort from the progress callback included, ends the
      // run as it is: an aborted run has no checksum that a caller could compare.
      try {
        window.Flush();
      } catch (...) {
      }
      throw;
    }
    in.Reposition();
  }
  if (Helper) {
    if (test_only)
      Helper->SetUncompressedCount(static_cast<int32_t>(total_out));
    else
      Helper->SetUncompressedCount(static_cast<int32_t>(Dest->Position() - dest_start));
    Helper->SetCompressedCount(static_cast<int32_t>(Source->Position() - source_start));
  }
  return result;
}

}  // namespace pelvar
