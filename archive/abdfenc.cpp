#include "archive/abdfenc.h"

#include <climits>
#include <cmath>
#include <memory>
#include <vector>

#include "archive/abdfcrys.h"
#include "archive/abdfinw.h"
#include "archive/abdfpkmg.h"
#include "archive/abdfxlat.h"

namespace pelvar {

namespace {

constexpr uint8_t kCodeLenOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

}  // namespace

void WriteEndOfBlock(const TAbDfDecodeHuffmanTree& LitLenTree, TAbDfOutBitStream& OutBits) {
  const uint32_t e = LitLenTree.Encode(256);
  OutBits.PutBits(e & 0xFFFF, (e >> 16) & 0xFF);
}

void WriteStoredBlocks(bool Final, TAbDfLZStream& LZ, TAbDfOutBitStream& OutBits) {
  int64_t left = LZ.InputCovered();
  std::vector<uint8_t> transfer(65535);
  while (left > 0) {
    const int32_t len = static_cast<int32_t>(left < 65535 ? left : 65535);
    left -= len;
    OutBits.PutBits((Final && left == 0) ? 1 : 0, 3);
    OutBits.PadToByteBoundary();
    const uint8_t header[4] = {static_cast<uint8_t>(len), static_cast<uint8_t>(len >> 8),
                               static_cast<uint8_t>(~len), static_cast<uint8_t>(~len >> 8)};
    OutBits.WriteBuffer(header, 4);
    LZ.ReadRawInput(transfer.data(), len);
    OutBits.WriteBuffer(transfer.data(), len);
  }
}

void WriteStaticBlock(bool Final, bool Deflate64, TAbDfLZStream& LZ, TAbDfOutBitStream& OutBits) {
  OutBits.PutBits(Final ? 3 : 2, 3);
  LZ.Encode(OutBits, AbStaticLitLenTree(), Deflate64, AbStaticDistTree());
  WriteEndOfBlock(AbStaticLitLenTree(), OutBits);
}

int64_t CalcDynamicBitCount(bool Deflate64, const uint8_t* LitLengths, int32_t HLit, const uint32_t* LitFreq,
                            const uint8_t* DistLengths, int32_t HDist, const uint32_t* DistFreq,
                            const uint8_t* CodeLenLengths, int32_t HCLen, const uint32_t* CodeLenFreq) {
  int64_t bits = 14 + 3 * static_cast<int64_t>(HCLen);
  static constexpr int kRepeatExtra[3] = {2, 3, 7};
  for (int s = 16; s <= 18; ++s)
    bits += static_cast<int64_t>(CodeLenFreq[s]) * (CodeLenLengths[s] + kRepeatExtra[s - 16]);
  for (int i = 0; i < HCLen; ++i) {
    const int s = kCodeLenOrder[i];
    if (s < 16) bits += static_cast<int64_t>(CodeLenFreq[s]) * CodeLenLengths[s];
  }
  for (int s = 0; s < HLit; ++s) {
    if (!LitFreq[s]) continue;
    int extra = s >= 257 ? dfc_LengthExtraBits[s - 257] : 0;
    if (s == 285) extra = Deflate64 ? 16 : 0;
    bits += static_cast<int64_t>(LitFreq[s]) * (LitLengths[s] + extra);
  }
  for (int d = 0; d < HDist; ++d)
    bits += static_cast<int64_t>(DistFreq[d]) * (DistLengths[d] + dfc_DistanceExtraBits[d]);
  return bits;
}

void WriteDynamicBlock(bool Final, bool Deflate64, bool MayChoose, TAbDfLZStream& LZ, TAbDfOutBitStream& OutBits) {
  // Literal/length lengths, then the distance lengths right after them.
  uint8_t lengths[286 + 32] = {};
  GenerateCodeLengths(15, LZ.LitFreq(), 286, lengths, 0);
  int32_t hlit = 286;
  while (hlit > 257 && lengths[hlit - 1] == 0) --hlit;
  GenerateCodeLengths(15, LZ.DistFreq(), Deflate64 ? 32 : 30, lengths, hlit);
  int32_t hdist = Deflate64 ? 32 : 30;
  while (hdist > 1 && lengths[hlit + hdist - 1] == 0) --hdist;

  TAbDfCodeLenStream codes;
  codes.RunLengthCode(lengths, hlit + hdist);
  uint8_t cl_lengths[19] = {};
  GenerateCodeLengths(7, codes.Freq(), 19, cl_lengths, 0);
  int32_t hclen = 19;
  while (hclen > 4 && cl_lengths[kCodeLenOrder[hclen - 1]] == 0) --hclen;

  if (MayChoose) {
    const int64_t dynamic = CalcDynamicBitCount(Deflate64, lengths, hlit, LZ.LitFreq(), lengths + hlit, hdist,
                                                LZ.DistFreq(), cl_lengths, hclen, codes.Freq());
    const int64_t fixed = LZ.StaticBlockBits();
    const int64_t stored = (LZ.InputCovered() + 4) * 8;
    if (fixed < dynamic) {
      if (stored < fixed)
        WriteStoredBlocks(Final, LZ, OutBits);
      else
        WriteStaticBlock(Final, Deflate64, LZ, OutBits);
      return;
    }
    if (stored < dynamic) {
      WriteStoredBlocks(Final, LZ, OutBits);
      return;
    }
  }

  TAbDfDecodeHuffmanTree cl_tree(19, huEncoding, 7);
  cl_tree.Build(cl_lengths, 0, 19, nullptr, 0);
  TAbDfDecodeHuffmanTree lit_tree(286, huEncoding, 15);
  lit_tree.Build(lengths, 0, hlit, dfc_LengthExtraBits, 257);
  TAbDfDecodeHuffmanTree dist_tree(Deflate64 ? 32 : 30, huEncoding, 15);
  dist_tree.Build(lengths, hlit, hdist, dfc_DistanceExtraBits, 0);

  OutBits.PutBits(Final ? 5 : 4, 3);
  OutBits.PutBits(static_cast<uint32_t>((hlit - 257) + (hdist - 1) * 32 + (hclen - 4) * 1024), 14);
  for (int i = 0; i < hclen; ++i) OutBits.PutBits(cl_lengths[kCodeLenOrder[i]], 3);
  codes.WriteCodes(OutBits, cl_tree);
  LZ.Encode(OutBits, lit_tree, Deflate64, dist_tree);
  WriteEndOfBlock(lit_tree, OutBits);
}

namespace {

uint32_t DeflateStoredOnly(TStream* source, TStream* dest, const TAbDeflateHelper& helper) {
  const bool crc32 = (helper.Options() & dfc_UseAdler32) == 0;
  uint32_t checksum = crc32 ? 0xFFFFFFFF : 1;
  int64_t amount = helper.InputSize() > 0 ? helper.InputSize() : source->Size() - source->Position();
  const int64_t percent_base = helper.InputSize() > 0 ? helper.InputSize() : amount;
  std::vector<uint8_t> buffer(65535);
  int64_t done = 0;
  for (;;) {
    const int32_t want = static_cast<int32_t>(amount - done < 65535 ? amount - done : 65535);
    const int32_t got = want > 0 ? source->Read(buffer.data(), want) : 0;
    if (got <= 0) {
      // An empty input, or a source shorter than announced: an empty final block ends
      // the stream so that it stays readable.
      static const uint8_t kEmptyFinal[5] = {1, 0, 0, 0xFF, 0xFF};
      dest->WriteBuffer(kEmptyFinal, 5);
      break;
    }
    done += got;
    if (helper.OnStepProgress() && percent_base > 0)
      helper.OnStepProgress()(static_cast<int32_t>(std::lround(static_cast<double>(done) * 100.0 / percent_base)));
    if (crc32)
      AbCrc32Buffer(checksum, buffer.data(), got);
    else
      AbAdler32Buffer(checksum, buffer.data(), got);
    const bool final_chunk = done >= amount;
    const uint8_t header[5] = {static_cast<uint8_t>(final_chunk ? 1 : 0), static_cast<uint8_t>(got),
                               static_cast<uint8_t>(got >> 8), static_cast<uint8_t>(~got),
                               static_cast<uint8_t>(~got >> 8)};
    dest->WriteBuffer(header, 5);
    dest->WriteBuffer(buffer.data(), got);
    if (final_chunk) break;
  }
  return crc32 ? ~checksum : checksum;
}

uint32_t DeflateStaticDynamic(TStream* source, TStream* dest, TAbDeflateHelper& helper, bool fixed_only,
                              bool may_choose, int64_t input_size) {
  const bool deflate64 = (helper.Options() & dfc_UseDeflate64) != 0;
  TAbDfInputWindow window(source, (helper.Options() & dfc_UseAdler32) == 0, deflate64, helper.MaxChainSteps(),
                          helper.HistorySize(), input_size, helper.OnStepProgress());
  TAbDfOutBitStream out(dest);
  TAbDfLZStream lz(&window, nullptr, deflate64);

  auto write_block = [&](bool final_block) {
    if (fixed_only)
      WriteStaticBlock(final_block, deflate64, lz, out);
    else
      WriteDynamicBlock(final_block, deflate64, may_choose, lz, out);
  };

  int32_t sufficient = helper.SufficientMatch();
  int32_t lazy_limit = helper.LazyLimit();
  int32_t pending_len = 0, pending_dist = 0;
  uint8_t pending_lit = 0;
  bool checked = false;
  bool full = false;
  TAbDfMatch m;
  while (window.LookAheadCount() >= 3) {
    if (!checked && lz.InputCovered() == 1024) {
      // Text without zero bytes at the normal preset: search harder.
      checked = true;
      if (helper.PresetLetter() == 'n' && !lz.ZeroLiteralSeen()) {
        helper.SetSufficientMatch(helper.SufficientMatch() * 2);
        helper.SetLazyLimit(helper.LazyLimit() * 2);
        helper.SetMaxChainSteps(helper.MaxChainSteps() * 2);
        sufficient = helper.SufficientMatch();
        lazy_limit = helper.LazyLimit();
        window.SetChainLimit(helper.MaxChainSteps());
      }
    }
    if (full) {
      write_block(false);
      lz.StartBlock();
      full = false;
    }
    bool found = window.SearchMatch(sufficient, m, pending_len);
    if (found && m.maLen == 3 && m.maDist > 4096) found = false;
    if (found) {
      if (pending_len > 0) full = lz.PutLiteral(pending_lit);
      pending_len = m.maLen;
      pending_dist = m.maDist;
      pending_lit = m.maLit;
      window.StepOne();
      if (pending_len >= lazy_limit) {
        full = lz.PutMatch(pending_len, pending_dist) || full;
        window.Advance(pending_len - 1, pending_len - 1);
        pending_len = 0;
      }
    } else if (pending_len > 0) {
      full = lz.PutMatch(pending_len, pending_dist);
      window.Advance(pending_len - 1, pending_len - 2);
      pending_len = 0;
    } else {
      full = lz.PutLiteral(m.maLit);
      window.StepOne();
    }
  }
  if (pending_len > 0) {
    lz.PutMatch(pending_len, pending_dist);
    window.Advance(window.LookAheadCount(), window.LookAheadCount());
  } else {
    while (window.LookAheadCount() > 0) lz.PutLiteral(window.TakeByte());
  }
  write_block(true);
  out.Flush();
  return window.InputChecksum();
}

}  // namespace

uint32_t Deflate(TStream* Source, TStream* Dest, TAbDeflateHelper* Helper) {
  AbAssert(Source != nullptr, "Deflate: aSource stream cannot be nil");
  AbAssert(Dest != nullptr, "Deflate: aDest stream cannot be nil");
  TAbDeflateHelper helper;
  if (Helper) helper.CopyFrom(*Helper);
  AbAssert((helper.Options() & 7) != 0, "Deflate: aHelper.Options must enable some kind of archiving");

  const int64_t source_start = Source->Position();
  const int64_t dest_start = Dest->Position();
  int64_t input_size = helper.InputSize();
  if (!helper.OnStepProgress())
    input_size = 0;
  else if (input_size == -1)
    input_size = Source->Size() - source_start;
  helper.SetInputSize(static_cast<int32_t>(input_size));
  if (!(helper.Options() & dfc_UseLazy)) helper.SetLazyLimit(0);
  if (helper.SufficientMatch() == -1) helper.SetSufficientMatch(INT32_MAX);
  if (helper.LazyLimit() == -1) helper.SetLazyLimit(INT32_MAX);
  if (helper.MaxChainSteps() == -1) helper.SetMaxChainSteps(INT32_MAX);

  std::unique_ptr<TAbLogger> log;
  if (!helper.LogFileName().empty()) {
    log = std::make_unique<TAbLogger>(helper.LogFileName());
    log->LogLine("DEFLATING STREAM...");
    log->LogLine("Need to recompile the app with UseLogging turned on");
  }
  std::unique_ptr<TAbDfEncryptStream> encrypt;
  TStream* output = Dest;
  if (!helper.Passphrase().empty()) {
    encrypt = std::make_unique<TAbDfEncryptStream>(Dest, helper.Passphrase(), helper.Checksum());
    output = encrypt.get();
  }

  uint32_t result;
  try {
    switch (helper.Options() & 7) {
      case 1: result = DeflateStoredOnly(Source, output, helper); break;
      case 2: result = DeflateStaticDynamic(Source, output, helper, true, false, input_size); break;
      case 4: result = DeflateStaticDynamic(Source, output, helper, false, false, input_size); break;
      default: result = DeflateStaticDynamic(Source, output, helper, false, true, input_size); break;
    }
  } catch (const EAbInternalDeflateError& e) {
    throw EAbDeflateError(e.Message());
  }
  if (Helper) {
    Helper->SetUncompressedCount(static_cast<int32_t>(Source->Position() - source_start));
    Helper->SetCompressedCount(static_cast<int32_t>(Dest->Position() - dest_start));
  }
  return result;
}

}  // namespace pelvar
