// The native document format: the record writer (version, style tables, layout, document
// properties, text records joining like items, non-text items with their checkpoints) and
// the reader that inserts the records of a stream into a document with style renumbering
// and warnings.
#include <algorithm>
#include <cstring>

#include "platform/filer.h"
#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVStyle_list.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

// ---- Layout block ------------------------------------------------------------------------------
namespace {
void PutInt(std::string& out, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}
int32_t GetInt(const std::string& s, size_t at) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(static_cast<uint8_t>(s[at + i])) << (8 * i);
  return static_cast<int32_t>(u);
}

std::string LayoutBytes(const TRVLayoutInfo& l) {
  const bool partial = l.FirstParaPartial != 0 || l.LastParaPartial != 0;
  std::string b;
  PutInt(b, 0);
  PutInt(b, partial ? 41 : 25);
  for (int32_t v : {l.LeftMargin, l.RightMargin, l.TopMargin, l.BottomMargin, l.MinTextWidth, l.MaxTextWidth})
    PutInt(b, v);
  b.push_back(static_cast<char>(l.BiDiMode));
  if (partial)
    for (int32_t v : {l.FirstParaPartial, l.LastParaPartial, l.FirstParaListNo, l.FirstParaListLevel}) PutInt(b, v);
  return b;
}

// bytes: version, length and the fields (no size prefix).
void LayoutFromBytes(TRVLayoutInfo& l, const std::string& bytes) {
  if (bytes.size() < 8) throw EDocViewError("Invalid RVF format");
  const int32_t len = GetInt(bytes, 4);
  if (len < 25 || bytes.size() < 8 + static_cast<size_t>(len)) throw EDocViewError("Invalid RVF format");
  size_t at = 8;
  int32_t* fields[] = {&l.LeftMargin, &l.RightMargin, &l.TopMargin, &l.BottomMargin, &l.MinTextWidth,
                       &l.MaxTextWidth};
  for (int32_t* f : fields) {
    *f = GetInt(bytes, at);
    at += 4;
  }
  const uint8_t bidi = static_cast<uint8_t>(bytes[at++]);
  l.BiDiMode = bidi <= rvbdRightToLeft ? static_cast<TRVBiDiMode>(bidi) : rvbdUnspecified;
  if (len > 40) {
    int32_t* extra[] = {&l.FirstParaPartial, &l.LastParaPartial, &l.FirstParaListNo, &l.FirstParaListLevel};
    for (int32_t* f : extra) {
      *f = GetInt(bytes, at);
      at += 4;
    }
  }
  l.Loaded = true;
}
}  // namespace

void TRVLayoutInfo::SaveToStream(TStream& stream, bool with_size) const {
  std::string b = LayoutBytes(*this);
  if (with_size) {
    std::string p;
    PutInt(p, static_cast<int32_t>(b.size()));
    b = p + b;
  }
  stream.WriteBuffer(b.data(), static_cast<int64_t>(b.size()));
}

void TRVLayoutInfo::LoadFromStream(TStream& stream, bool with_size) {
  if (with_size) {
    int32_t size = 0;
    stream.ReadBuffer(&size, 4);
    if (size < 33) throw EDocViewError("Invalid RVF format");
    std::string b(static_cast<size_t>(size), '\0');
    stream.ReadBuffer(b.data(), size);
    LayoutFromBytes(*this, b);
    return;
  }
  std::string head(8, '\0');
  stream.ReadBuffer(head.data(), 8);
  const int32_t len = GetInt(head, 4);
  if (len < 25) throw EDocViewError("Invalid RVF format");
  std::string rest(static_cast<size_t>(len), '\0');
  stream.ReadBuffer(rest.data(), len);
  LayoutFromBytes(*this, head + rest);
}

void TRVLayoutInfo::SaveTextToStream(TStream& stream) const { RVFWriteLine(stream, RVFStringToHex(LayoutBytes(*this))); }

void TRVLayoutInfo::LoadText(const AnsiString& hex) { LayoutFromBytes(*this, RVFHexToString(hex)); }

void TRVLayoutInfo::LoadBinary(const AnsiString& bytes) { LayoutFromBytes(*this, bytes); }

// ---- Writing ---------------------------------------------------------------------------------------
namespace {

bool TagsStrings(TCustomRVData* d) { return d->GetOptions().Contains(rvoTagsArePChars); }

void WriteCheckpoint(TStream& stream, TCustomRVData* d, const TRVCPInfo* cp) {
  RVFWriteLine(stream, Format("%d %d %d %d %d %s %d %d", {rvsCheckpoint, 1, 0, 0, 0, RVFSaveTag(TagsStrings(d), cp->Tag),
                                                           cp->RaiseEvent ? 1 : 0, cp->Persistent ? 1 : 0}));
  RVFWriteLine(stream, cp->Name);
}

void WriteStyleTable(TStream& stream, TCustomRVData* d, TCollection* coll, int32_t subtype, bool binary) {
  RVFWriteLine(stream, Format("%d %d %d %d %d %d %d", {rvsDocProperty, 2, 0, 0, binary ? 2 : 0, 0, subtype}));
  TRVStyle* st = d->GetRVStyle();
  RVFWriteLine(stream, st ? st->Name() : AnsiString());
  TMemoryStream m;
  TWriter w(m);
  w.WriteCollection(coll);
  if (binary) {
    const int32_t n = static_cast<int32_t>(m.Size());
    stream.WriteBuffer(&n, 4);
    stream.WriteBuffer(m.Memory(), n);
  } else {
    RVFWriteLine(stream, RVFStreamToHex(m));
  }
}

// While a document streams the list styles, their levels name image lists by Tag and ask
// this document for them when reading.
class ListStylesStreaming {
 public:
  ListStylesStreaming(TRVListInfos* lists, TCustomRVData* rvdata) : lists_(lists), old_(lists->RVData) {
    lists_->RVData = rvdata;
  }
  ~ListStylesStreaming() { lists_->RVData = old_; }
  ListStylesStreaming(const ListStylesStreaming&) = delete;
  ListStylesStreaming& operator=(const ListStylesStreaming&) = delete;

 private:
  TRVListInfos* lists_;
  TObject* old_;
};

// Text that the record's line framing cannot carry as it stands: single-byte text with a
// CR or LF (it would end the line early), UTF-16 text with U+2029 (it would end a raw UTF-16
// line). Such text gets a record of its own: single-byte text as a binary block (read type
// 2), UTF-16 text as hexadecimal (read type 3), which read back unchanged.
bool BreaksFraming(const AnsiString& text, bool unicode) {
  if (!unicode) return text.find_first_of("\r\n") != AnsiString::npos;
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    if (text[i] == '\x29' && text[i + 1] == '\x20') return true;
  return false;
}

// The open text record: the first item and its lines.
struct TextRecord {
  TCustomRVItemInfo* first = nullptr;
  int32_t para = 0;  // ParaNo as written (-1 for a continuation)
  uint8_t options = 0;
  std::vector<AnsiString> lines;
};

}  // namespace

bool TCustomRVData::SaveRVFToStream(TStream& stream, bool selection_only, TRVLayoutInfo* layout,
                                    TRVBackground* background, TColor color) {
  try {
    const TRVFOptions opts = GetRVFOptions();
    const bool binary = opts.Contains(rvfoSaveBinary);
    RVFWriteLine(stream, Format("%d %d %d", {rvsVersionInfo, 1, 3}));
    if (!selection_only && background && opts.Contains(rvfoSaveBack)) {
      const int32_t bstyle = GetRVFBackgroundStyle(background);
      std::unique_ptr<TGraphic> picture = bstyle != 0 ? GetRVFBackgroundPicture(background) : nullptr;
      if (!picture) {
        RVFWriteLine(stream, Format("%d %d %d %d %d %d %d %d", {rvsBack, 0, -1, 0, 0, 0, bstyle,
                                                                 static_cast<int32_t>(color)}));
      } else {
        RVFWriteLine(stream, Format("%d %d %d %d %d %d %d %d", {rvsBack, 2, 0, 0, binary ? 2 : 0, 0, bstyle,
                                                                 static_cast<int32_t>(color)}));
        RVFWriteLine(stream, "TBitmap");
        if (binary)
          RVFSavePictureBinary(stream, *picture);
        else
          RVFWriteLine(stream, RVFSavePicture(*picture));
      }
    }
    TRVStyle* st = GetRVStyle();
    if (st && ((GetFlags() & 0x100) != 0 || selection_only)) {
      if (opts.Contains(rvfoSaveTextStyles)) WriteStyleTable(stream, this, st->TextStyles(), 1, binary);
      if (opts.Contains(rvfoSaveParaStyles) && GetRootData() == this) {
        WriteStyleTable(stream, this, st->ParaStyles(), 2, binary);
        ListStylesStreaming streaming(st->ListStyles(), this);
        WriteStyleTable(stream, this, st->ListStyles(), 4, binary);
      }
    }
    if (opts.Contains(rvfoSaveDocProperties)) {
      TStringList* props = GetAbsoluteRootData()->GetDocProperties();
      if (props && props->Count() > 0) {
        RVFWriteLine(stream, Format("%d %d %d %d %d %d %d", {rvsDocProperty, props->Count(), 0, 0, 0, 0, 5}));
        for (int32_t i = 0; i < props->Count(); ++i) RVFWriteLine(stream, RVFEncodeLineBreaks(props->Get(i)));
      }
    }
    if (opts.Contains(rvfoSaveLayout) && GetRootData() == this && layout && !selection_only) {
      RVFWriteLine(stream, Format("%d %d %d %d %d %d %d", {rvsDocProperty, 2, 0, 0, binary ? 2 : 0, 0, 3}));
      RVFWriteLine(stream, AnsiString());
      if (binary)
        layout->SaveToStream(stream, true);
      else
        layout->SaveTextToStream(stream);
    }
    if (selection_only) {
      if (TCustomRVData* chosen = GetChosenRVData()) return chosen->SaveRVFToStream(stream, true, nullptr, nullptr, clNone);
    }
    int32_t start_no = 0, start_offs = 0, end_no = -1, end_offs = 0;
    GetSelectionBounds(selection_only ? 1 : 0, start_no, start_offs, end_no, end_offs);
    if (ItemCount() == 0 || start_no < 0 || end_no < 0) {
      if (!selection_only && NotAddedCP()) WriteCheckpoint(stream, this, NotAddedCP());
      return true;
    }
    const bool tags_str = TagsStrings(this);
    TextRecord rec;
    auto flush = [&]() {
      if (!rec.first) return;
      TCustomRVItemInfo* it = rec.first;
      const bool unicode = it->ItemOptions.Contains(rvioUnicodeText);
      // A record of text that breaks the framing holds that one line (see BreaksFraming).
      const bool framed = rec.lines.size() == 1 && BreaksFraming(rec.lines[0], unicode);
      const bool hex = unicode && (!binary || framed);
      const int32_t read_type = hex ? 3 : framed ? 2 : 0;
      AnsiString style = RVFTextStyleToStr(st, opts.Contains(rvfoUseStyleNames), it->StyleNo);
      AnsiString para = rec.para < 0 ? AnsiString("-1") : RVFSaveParaNo(rec.para, this, false);
      AnsiString tail = it->Hint.empty() ? AnsiString() : AnsiString("\"") + it->Hint + "\"";
      // Quote doubling for the hint as for string tags.
      if (!it->Hint.empty()) {
        AnsiString h;
        for (char c : it->Hint) {
          h += c;
          if (c == '"') h += '"';
        }
        tail = "\"" + h + "\"";
      }
      AnsiString line = Format("%s %d %s %d %d %s", {style, static_cast<int32_t>(rec.lines.size()), para,
                                                      static_cast<int32_t>(rec.options & 0x0F), read_type,
                                                      RVFSaveTag(tags_str, it->Tag)});
      if (!tail.empty()) line += " " + tail;
      RVFWriteLine(stream, line);
      if (read_type == 2) {
        const int32_t n = static_cast<int32_t>(rec.lines[0].size());
        stream.WriteBuffer(&n, 4);
        RVFWrite(stream, rec.lines[0]);
      } else {
        for (const AnsiString& l : rec.lines) RVFWriteTextLine(stream, l, unicode, hex);
      }
      rec = TextRecord();
    };
    auto can_join = [&](TCustomRVItemInfo* it) {
      if (!rec.first || (!it->IsParaStart() && it->GetSameAsPrev())) return false;
      if (it->GetSameAsPrev() || it->StyleNo < 0 || it->Checkpoint) return false;
      TCustomRVItemInfo* f = rec.first;
      return rec.para >= 0 && it->StyleNo == f->StyleNo && it->ParaNo == f->ParaNo &&
             (it->ItemOptions.ToBits() & 0x0F) == (rec.options & 0x0F) &&
             RV_CompareTags(it->Tag, f->Tag, tags_str) && it->Hint == f->Hint;
    };
    for (int32_t i = start_no; i <= end_no && i < ItemCount(); ++i) {
      TCustomRVItemInfo* it = GetItem(i);
      AnsiString text = GetItemTextRaw(i);
      bool partial = false;
      int32_t from = 1, to = ItemLength(i) + 1;
      if (it->StyleNo >= 0) {
        if (i == start_no && start_offs > 1) {
          from = start_offs;
          partial = true;
        }
        if (i == end_no && end_offs < ItemLength(i) + 1) {
          to = end_offs;
          partial = true;
        }
        if (partial) text = RVU_Copy(text, from, std::max(0, to - from), it->ItemOptions.ToBits());
      } else if (i == end_no && end_offs < 1) {
        break;  // the range ends before this non-text item
      }
      if (it->StyleNo >= 0) {
        const bool framed = BreaksFraming(text, it->ItemOptions.Contains(rvioUnicodeText));
        if (!partial && !framed && can_join(it)) {
          rec.lines.push_back(text);
          continue;
        }
        flush();
        if (it->Checkpoint && from == 1) WriteCheckpoint(stream, this, it->Checkpoint);
        rec.first = it;
        rec.para = (it->GetSameAsPrev() || (partial && from > 1)) ? -1 : it->ParaNo;
        rec.options = it->ItemOptions.ToBits();
        if (partial && from > 1) rec.options = RVFGetItemOptions(it->ItemOptions, true);
        rec.lines.push_back(text);
        if (partial || framed) flush();
        continue;
      }
      flush();
      if (it->Checkpoint) WriteCheckpoint(stream, this, it->Checkpoint);
      if (selection_only && start_no == end_no && it->IsPartiallySelected())
        it->SaveRVFSelection(stream, this, i, it->GetSameAsPrev() ? -1 : it->ParaNo);
      else
        it->SaveRVF(stream, this, i, it->GetSameAsPrev() ? -1 : it->ParaNo, text, 0, false);
    }
    flush();
    if (end_no == ItemCount() - 1 && NotAddedCP()) WriteCheckpoint(stream, this, NotAddedCP());
    return true;
  } catch (...) {
    return false;
  }
}

// ---- Reading ---------------------------------------------------------------------------------------
namespace {

// Cursor over the private copy of the stream's remainder.
class LineReader {
 public:
  explicit LineReader(std::string data) : d_(std::move(data)) {}
  bool AtEnd() const { return p_ >= d_.size(); }
  // A text line ended by CR LF, a lone CR or LF (or the end).
  bool ReadLine(AnsiString& s) {
    if (AtEnd()) return false;
    size_t e = p_;
    while (e < d_.size() && d_[e] != '\r' && d_[e] != '\n') ++e;
    s.assign(d_, p_, e - p_);
    if (e < d_.size() && d_[e] == '\r') {
      ++e;
      if (e < d_.size() && d_[e] == '\n') ++e;
    } else if (e < d_.size()) {
      ++e;
    }
    p_ = e;
    return true;
  }
  // A 32-bit little-endian length and that many bytes.
  bool ReadBlock(AnsiString& s) {
    if (d_.size() - p_ < 4) return false;
    const int32_t n = GetInt(d_, p_);
    if (n < 0 || d_.size() - p_ - 4 < static_cast<size_t>(n)) return false;
    s.assign(d_, p_ + 4, static_cast<size_t>(n));
    p_ += 4 + static_cast<size_t>(n);
    return true;
  }
  // UTF-16LE code units up to U+2029 (even offsets from the line start).
  bool ReadWideLine(AnsiString& s) {
    size_t e = p_;
    while (e + 1 < d_.size() && !(d_[e] == '\x29' && d_[e + 1] == '\x20')) e += 2;
    if (e + 1 >= d_.size()) return false;
    s.assign(d_, p_, e - p_);
    p_ = e + 2;
    return true;
  }

 private:
  std::string d_;
  size_t p_ = 0;
};

struct Header {
  int32_t StyleNo = 0, DataCount = 0, ParaNo = 0, ReadType = 0, ExtraValue = 0;
  uint8_t Options = 0;
  TRVTag Tag;
  int32_t RaiseEvent = 0, Persistent = 0;
};

}  // namespace

bool TCustomRVData::InsertRVFFromStream(TStream& stream, int32_t& index, TRVLayoutInfo* layout,
                                        TRVBackground* background, TColor& color, bool editing,
                                        bool whole_document, bool reattach_first, int32_t first_para_no) {
  index = std::clamp(index, 0, ItemCount());
  const int32_t insert_start = index;
  SetRVFWarnings(0);
  uint32_t warnings = 0;
  TRVIntegerList* text_map = nullptr;
  TRVIntegerList* para_map = nullptr;
  TRVIntegerList* list_map = nullptr;
  std::unique_ptr<TRVCPInfo> pending;
  bool ok = true;
  bool complete = true;
  TRVStyle* st = GetRVStyle();
  const TRVFOptions opts = GetRVFOptions();
  const bool tags_str = TagsStrings(this);
  if (whole_document) {
    if (TStringList* props = GetDocProperties()) props->Clear();
  }
  // A sub-document (a table cell) read while its root reads goes by the root's renumbering:
  // its items need it as the root's do, and the items after it still need it afterwards.
  const bool sub_doc = GetRootData() != this;
  try {
    InitStyleMappings(text_map, para_map, list_map);
    // The renumbering of this read starts empty: only style tables of this stream fill it.
    if (!sub_doc)
      for (TRVIntegerList* m : {text_map, para_map, list_map})
        if (m) m->Clear();
    std::string rest;
    {
      const int64_t n = stream.Size() - stream.Position();
      if (n > 0) {
        rest.resize(static_cast<size_t>(n));
        stream.ReadBuffer(rest.data(), n);
      }
    }
    LineReader in(std::move(rest));
    int32_t major = 0, minor = 0;
    bool first_inserted = true;
    // Style tables read from the stream may change the counts.
    auto text_count_of = [&]() { return st ? st->TextStyles()->Count() : 0; };
    auto para_count_of = [&]() { return st ? st->ParaStyles()->Count() : 0; };

    auto map_text = [&](int32_t& s) -> bool {
      if (s == rvsDefStyle || s < 0) return true;
      if (text_map && text_map->Count() > 0) {
        if (s >= text_map->Count()) {
          warnings |= rvfwConvUnknownStyles;
          if (!opts.Contains(rvfoConvUnknownStylesToZero)) return false;
          s = 0;
          return true;
        }
        s = text_map->Items(s);
      }
      if (s < 0 || s >= text_count_of()) {
        warnings |= rvfwConvUnknownStyles;
        if (!opts.Contains(rvfoConvUnknownStylesToZero)) return false;
        s = 0;
      }
      return true;
    };
    auto map_para = [&](int32_t& p) -> bool {
      if (p == -1) return true;  // continues the previous item's line
      if (p < 0) {
        warnings |= rvfwConvUnknownStyles;
        if (!opts.Contains(rvfoConvUnknownStylesToZero)) return false;
        p = 0;
        return true;
      }
      if (para_map && para_map->Count() > 0) {
        if (p >= para_map->Count()) {
          warnings |= rvfwConvUnknownStyles;
          return false;
        }
        p = para_map->Items(p);
      }
      if (p >= para_count_of()) {
        warnings |= rvfwConvUnknownStyles;
        if (!opts.Contains(rvfoConvUnknownStylesToZero)) return false;
        p = 0;
      }
      return true;
    };

    auto insert_item = [&](AnsiString text, std::unique_ptr<TCustomRVItemInfo> item, int32_t para) -> bool {
      if (item->StyleNo >= 0 || item->GetAssociatedTextStyleNo() >= 0) {
        int32_t s = item->StyleNo >= 0 ? item->StyleNo : item->GetAssociatedTextStyleNo();
        if (s != rvsDefStyle && (s < 0 || s >= text_count_of())) {
          warnings |= rvfwConvUnknownStyles;
          if (!opts.Contains(rvfoConvUnknownStylesToZero)) return true;  // dropped
          if (item->StyleNo >= 0)
            item->StyleNo = 0;
          else
            item->SetAssociatedTextStyleNo(0);
        }
      }
      if (item->StyleNo >= 0 && st && item->StyleNo != rvsDefStyle) {
        TFontInfo* f = st->TextStyles()->Items(item->StyleNo);
        const bool want_unicode = f->Unicode;
        const bool is_unicode = item->ItemOptions.Contains(rvioUnicodeText);
        if (is_unicode && !want_unicode) {
          text = RVU_UnicodeToAnsi(GetStyleCodePage(item->StyleNo), text);
          item->ItemOptions.Exclude(rvioUnicodeText);
          warnings |= rvfwConvFromUnicode;
        } else if (!is_unicode && want_unicode) {
          text = RVU_AnsiToUnicode(GetStyleCodePage(item->StyleNo), text);
          item->ItemOptions.Include(rvioUnicodeText);
          warnings |= rvfwConvToUnicode;
        }
        if (editing && f->Protection.Contains(rvprRVFInsertProtect)) return true;
      }
      if (auto* marker = dynamic_cast<TRVMarkerItemInfo*>(item.get()); marker && marker->ListNo >= 0) {
        // The list number through the list renumbering; one that names no list style shows
        // the first one (or nothing without list styles).
        const int32_t lists = st ? st->ListStyles()->Count() : 0;
        if (list_map && list_map->Count() > 0) {
          if (marker->ListNo < list_map->Count()) {
            marker->ListNo = list_map->Items(marker->ListNo);
          } else {
            warnings |= rvfwConvUnknownStyles;
            marker->ListNo = 0;
          }
        }
        if (marker->ListNo >= lists) {
          warnings |= rvfwConvUnknownStyles;
          marker->ListNo = lists > 0 ? 0 : -1;
        }
      }
      if (item->ItemOptions.Contains(rvioUnicodeText)) RV_CheckUnicodeLength(text.size());
      // Continuation of the previous item's line.
      auto prev_full_line = [&]() {
        return index == 0 || dynamic_cast<TRVFullLineItemInfo*>(GetItem(index - 1)) != nullptr;
      };
      int32_t p = para;
      if (first_inserted && reattach_first) p = first_para_no;
      if (p == -1) {
        if (prev_full_line()) {
          item->SetSameAsPrev(false);
          item->ParaNo = 0;
        } else {
          item->SetSameAsPrev(true);
          item->ParaNo = GetItem(index - 1)->ParaNo;
        }
      } else {
        if (first_inserted && reattach_first) item->SetSameAsPrev(false);
        item->ParaNo = p;
      }
      TCustomRVItemInfo* raw = item.get();
      if (editing) {
        if (pending) {
          item->Checkpoint = pending.release();
          item->Checkpoint->ItemInfo = raw;
        }
        int32_t a = 0, b = 0;
        if (!InsertRVFItem(index, text, raw, true, a, b)) {
          item.release();
          return false;
        }
        item.release();
      } else if (index == ItemCount()) {
        // At the end the document's own pending checkpoint, or the one read, attaches here.
        if (pending) item->Checkpoint = pending.release();
        AddItemAsIs(text, item.release());
        if (raw->StyleNo == rvsListMarker) AddMarkerInList(index);
        ++index;
      } else {
        raw->Inserting(this, text, false);
        Items().InsertObject(index, text, item.release());
        if (pending) {
          TRVCPInfo* cp = pending.release();
          raw->Checkpoint = cp;
          LinkCheckpoint(cp, index);
        }
        raw->Inserted(this, index);
        if (raw->StyleNo == rvsListMarker) AddMarkerInList(index);
        ++index;
      }
      first_inserted = false;
      ItemControlAction(rvcaAfterRVFLoad, index - 1, raw);
      if ((State & 0x20000) == 0) raw->AfterLoading(rvlfRVF);
      return true;
    };

    AnsiString line;
    while (!in.AtEnd()) {
      if (!in.ReadLine(line)) break;
      if (line.empty() && in.AtEnd()) break;
      const char* p = line.c_str();
      Header h;
      if (!RVFReadInteger(p, h.StyleNo)) {
        // A style name in place of a text style number.
        if (*p != '"' || !RVFReadTextStyle(st, p, h.StyleNo)) {
          ok = false;
          break;
        }
      }
      if (h.StyleNo == rvsVersionInfo) {
        if (!RVFReadInteger(p, major) || !RVFReadInteger(p, minor)) {
          ok = false;
          break;
        }
        continue;
      }
      const bool has_options = major > 0 && minor > 1;
      const bool quoted_tags = major > 1 || minor > 2;
      if (!RVFReadInteger(p, h.DataCount) || h.DataCount < 0 || !RVFReadParaStyle(st, p, h.ParaNo)) {
        ok = false;
        break;
      }
      int32_t v = 0;
      if (has_options) {
        if (!RVFReadInteger(p, v)) {
          ok = false;
          break;
        }
        h.Options = static_cast<uint8_t>(v & 0x0F);
      }
      if (!RVFReadInteger(p, h.ReadType) || !RVFReadTag(p, tags_str, quoted_tags, h.Tag)) {
        ok = false;
        break;
      }
      complete = false;
      // Reads the record's data lines; the last may be a block (ReadType 2) where the record
      // takes binary data there (not a checkpoint's name).
      auto read_lines = [&](std::vector<AnsiString>& lines, bool wide, bool block = true) -> bool {
        for (int32_t i = 0; i < h.DataCount; ++i) {
          AnsiString s;
          bool r;
          if (block && h.ReadType == 2 && i == h.DataCount - 1)
            r = in.ReadBlock(s);
          else if (wide)
            r = in.ReadWideLine(s);
          else
            r = in.ReadLine(s);
          if (!r) return false;
          lines.push_back(std::move(s));
        }
        return true;
      };
      if (h.StyleNo == rvsDocProperty) {
        if (!RVFReadInteger(p, h.ExtraValue)) {
          ok = false;
          break;
        }
        std::vector<AnsiString> lines;
        if (!read_lines(lines, false)) {
          ok = false;
          break;
        }
        if (h.ExtraValue == 3 && whole_document && layout && opts.Contains(rvfoLoadLayout) && lines.size() == 2) {
          if (h.ReadType == 2) {
            // The block's length is the layout's size prefix.
            layout->LoadBinary(lines[1]);
          } else {
            layout->LoadText(lines[1]);
          }
          if (layout->FirstParaPartial != 0 && layout->FirstParaListNo >= 0 && list_map &&
              layout->FirstParaListNo < list_map->Count())
            layout->FirstParaListNo = list_map->Items(layout->FirstParaListNo);
        } else if (h.ExtraValue == 5 && whole_document && opts.Contains(rvfoLoadDocProperties)) {
          if (TStringList* props = GetDocProperties())
            for (const AnsiString& s : lines) props->Add(RVFDecodeLineBreaks(s));
        } else if (h.ExtraValue >= 1 && h.ExtraValue <= 4 && h.ExtraValue != 3 && lines.size() == 2 && st) {
          AnsiString data = h.ReadType == 2 ? lines[1] : RVFHexToString(lines[1]);
          if (data.empty() || static_cast<uint8_t>(data[0]) != 14) {
            ok = false;
            break;
          }
          const TRVFReaderStyleMode mode =
              h.ExtraValue == 1 ? GetRVFTextStylesReadMode() : GetRVFParaStylesReadMode();
          TRVIntegerList* own_map = h.ExtraValue == 1 ? text_map : h.ExtraValue == 2 ? para_map : list_map;
          // A second table of one kind in a stream keeps the renumbering of the first.
          if (mode != rvf_sIgnore && !(own_map && own_map->Count() > 0)) {
            TMemoryStream m;
            m.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
            m.SetPosition(0);
            TReader r(m);
            // A whole document brings its style sheet; an insertion maps its styles onto the
            // style sheet's (closest ones) or merges them in (adding what is missing). A table
            // that comes after items were read is merged in even in a whole document, so the
            // items read before it keep styles that exist.
            const int32_t merge_mode = mode == rvf_sInsertMap ? 1 : 0;
            const bool replace = whole_document && index == insert_start;
            try {
              if (h.ExtraValue == 1) {
                TFontInfos tmp;
                r.ReadCollection(&tmp);
                if (tmp.Count() > 0 && replace)
                  st->SetTextStyles(&tmp);
                else if (tmp.Count() > 0 && text_map)
                  st->TextStyles()->MergeStyles(&tmp, merge_mode, *text_map, nullptr);
              } else if (h.ExtraValue == 2) {
                TParaInfos tmp;
                r.ReadCollection(&tmp);
                if (tmp.Count() > 0 && replace)
                  st->SetParaStyles(&tmp);
                else if (tmp.Count() > 0 && para_map)
                  st->ParaStyles()->MergeStyles(&tmp, merge_mode, *para_map, text_map);
              } else {
                TRVListInfos tmp;
                {
                  ListStylesStreaming streaming(&tmp, this);
                  r.ReadCollection(&tmp);
                }
                if (tmp.Count() > 0 && replace) {
                  // The loaded lists stay the same lists: copying a list style gives it no
                  // id, so the ids read are kept explicitly.
                  TRVListInfos* lists = st->ListStyles();
                  lists->Assign(&tmp);
                  for (int32_t i = 0; i < tmp.Count(); ++i) lists->Items(i)->SetListId(tmp.Items(i)->GetListId());
                } else if (tmp.Count() > 0 && list_map) {
                  st->ListStyles()->MergeStyles(&tmp, merge_mode, *list_map, nullptr);
                }
              }
            } catch (const EFilerError&) {
              warnings |= rvfwInvalidStyles;
            }
          }
        }
        complete = true;
        continue;
      }
      if (h.StyleNo == rvsBack) {
        int32_t bstyle = 0, bcolor = 0;
        RVFReadInteger(p, bstyle);
        const bool has_color = RVFReadInteger(p, bcolor);
        std::vector<AnsiString> lines;
        if (!read_lines(lines, false)) {
          ok = false;
          break;
        }
        if (opts.Contains(rvfoLoadBack)) {
          if (has_color) color = bcolor;
          std::unique_ptr<TGraphic> picture;
          if (lines.size() == 2) {
            // The class name line is not used: the picture is a bitmap.
            picture = std::make_unique<TBitmap>();
            if (h.ReadType == 2) {
              RVFLoadPictureFromBinaryString(lines[1], *picture);
            } else if (!RVFLoadPicture(lines[1], *picture)) {
              ok = false;
              break;
            }
          }
          SetRVFBackground(background, bstyle, std::move(picture));
        }
        complete = true;
        continue;
      }
      if (h.StyleNo == rvsCheckpoint) {
        RVFReadInteger(p, h.RaiseEvent);
        RVFReadInteger(p, h.Persistent);
        std::vector<AnsiString> lines;
        if (!read_lines(lines, false, false)) {
          ok = false;
          break;
        }
        if (!pending) {
          pending = std::make_unique<TRVCPInfo>();
          pending->Name = lines.empty() ? AnsiString() : lines[0];
          pending->Tag = h.Tag;
          pending->RaiseEvent = h.RaiseEvent != 0;
          pending->Persistent = h.Persistent != 0;
        }
        complete = true;
        continue;
      }
      if (h.StyleNo >= 0) {
        if (!map_text(h.StyleNo) || !map_para(h.ParaNo)) {
          ok = false;
          break;
        }
        TRVTextItemInfo tmpl(this);
        if (!tmpl.ReadRVFHeaderTail(p, this)) {
          ok = false;
          break;
        }
        const bool wide = h.ReadType != 3 && (h.Options & 8) != 0;
        std::vector<AnsiString> lines;
        if (!read_lines(lines, wide)) {
          ok = false;
          break;
        }
        for (size_t i = 0; i < lines.size() && ok; ++i) {
          std::unique_ptr<TCustomRVItemInfo> it(RVTextItemFactory(this));
          it->StyleNo = h.StyleNo;
          it->ItemOptions = TRVItemOptions::FromBits(h.Options);
          if (i > 0) it->ItemOptions.Exclude(rvioSameAsPrev).Exclude(rvioPageBreakBefore).Exclude(rvioBR);
          it->Tag = RV_CopyTag(h.Tag, tags_str);
          it->Hint = tmpl.Hint;
          it->BeforeLoading(rvlfRVF);
          AnsiString text = h.ReadType == 3 ? RVFHexToString(lines[i]) : lines[i];
          if (h.ReadType == 3) it->ItemOptions.Include(rvioUnicodeText);
          const int32_t para = (i == 0) ? h.ParaNo : (h.ParaNo < 0 ? 0 : h.ParaNo);
          if (i > 0 && h.ParaNo < 0) it->ItemOptions.Exclude(rvioSameAsPrev);
          if (!insert_item(text, std::move(it), para)) ok = false;
        }
        if (!ok) break;
        complete = true;
        continue;
      }
      // Other item kinds.
      std::unique_ptr<TCustomRVItemInfo> item = CreateRVItem(h.StyleNo, this);
      if (!item) {
        ok = false;
        break;
      }
      item->ItemOptions = TRVItemOptions::FromBits(h.Options);
      item->Tag = h.Tag;
      item->BeforeLoading(rvlfRVF);
      if (!item->ReadRVFHeaderTail(p, this) || !map_para(h.ParaNo)) {
        ok = false;
        break;
      }
      // The item reads its lines one by one and says when the next one is a binary block
      // (its picture or control data); its names and properties are text lines.
      int32_t read_state = 0;
      bool next_binary = false;
      AnsiString name;
      for (int32_t i = 0; i < h.DataCount && ok; ++i) {
        AnsiString s;
        const bool binary_line = next_binary;
        next_binary = false;
        if (!(binary_line ? in.ReadBlock(s) : in.ReadLine(s)) ||
            !item->ReadRVFLine(s, this, read_state, next_binary, name, i, h.DataCount, h.ReadType))
          ok = false;
      }
      if (!ok) break;
      if (!insert_item(name, std::move(item), h.ParaNo)) {
        ok = false;
        break;
      }
      complete = true;
    }
    ok = ok && complete;
    // A trailing list marker gets an empty text item after it.
    if (index > insert_start && GetItem(index - 1)->StyleNo == rvsListMarker &&
        (index == ItemCount() || GetItem(index)->IsParaStart())) {
      auto* t = RVTextItemFactory(this);
      t->StyleNo = 0;
      t->ParaNo = GetItem(index - 1)->ParaNo;
      t->SetSameAsPrev(true);
      Items().InsertObject(index, AnsiString(), t);
      ++index;
    }
    if (!editing && insert_start < ItemCount()) FixParaNoOfParagraph(insert_start);
  } catch (const std::exception&) {
    ok = false;
  }
  if (!sub_doc)
    for (TRVIntegerList* m : {text_map, para_map, list_map})
      if (m) m->Clear();
  DoneStyleMappings(sub_doc);
  UpdateCheckpointItemNumbers();
  if (pending) {
    if (ok && index == ItemCount() && !NotAddedCP()) {
      AddCheckpoint(pending->Name, pending->RaiseEvent, pending->Tag);
      if (NotAddedCP()) NotAddedCP()->Persistent = pending->Persistent;
    }
    pending.reset();
  }
  SetRVFWarnings(GetRVFWarnings() | warnings);
  return ok;
}

bool TCustomRVData::LoadRVFFromStream(TStream& stream, TColor& color, TRVBackground* background,
                                      TRVLayoutInfo* layout) {
  Clear();
  int32_t index = 0;
  return InsertRVFFromStream(stream, index, layout, background, color, false, true, false, 0);
}

void TCustomRVData::WriteRVFData(TStream& stream) {
  const int64_t start = stream.Position();
  int32_t len = 0;
  stream.WriteBuffer(&len, 4);
  const TRVFOptions old = GetRVFOptions();
  TRVFOptions o = old;
  SetRVFOptions(o.Exclude(rvfoSaveBack));
  try {
    SaveRVFToStream(stream, false, nullptr, nullptr, clNone);
  } catch (...) {
    SetRVFOptions(old);
    throw;
  }
  SetRVFOptions(old);
  const int64_t end = stream.Position();
  len = static_cast<int32_t>(end - start - 4);
  stream.SetPosition(start);
  stream.WriteBuffer(&len, 4);
  stream.SetPosition(end);
}

void TCustomRVData::ReadRVFData(TStream& stream) {
  const uint32_t old = State;
  State |= 0x20000;
  try {
    int32_t len = 0;
    stream.ReadBuffer(&len, 4);
    if (len < 0 || len > stream.Size() - stream.Position()) throw EDocViewError("Invalid RVF format");
    TMemoryStream m;
    if (len > 0) m.CopyFrom(stream, len);
    m.SetPosition(0);
    TColor c = clNone;
    LoadRVFFromStream(m, c, nullptr, nullptr);
  } catch (...) {
    State = old;
    throw;
  }
  State = old;
}

}  // namespace pelvar
