// Shared by the editor's tests: a formatted editable document with the hand-computable test
// font (every glyph 7 px, a space 4 px; tests/richtext/view/view_fixture.h), a style sheet
// with a few text and paragraph styles, documents written as short specs, a dump of the item
// list and a beep counter installed as the beep sink.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/beep.h"
#include "platform/codepage.h"
#include "richtext/edit/RVERVData.h"
#include "richtext/model/RVMarker.h"
#include "richtext/model/RVStyle.h"
#include "richtext/model/RVUni.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace edittest {

class TTestEditData : public TRVEditRVData {
 public:
  TTestEditData() : Canvas(1024, 768, std::make_shared<viewtest::TTestFont>()) { SetFlags(0x0D03); }
  TRecordingCanvas Canvas;
  int32_t Area = 200;
  bool ReadOnly = false;
  bool Refuse = false;
  int32_t Changes = 0;
  TCanvas* GetCanvas() override { return &Canvas; }
  int32_t GetAreaWidth() override { return Area; }
  int32_t GetAreaHeight() override { return 400; }
  bool BeforeChange(bool forced) override {
    if (ReadOnly || Refuse) {
      Beep();
      return false;
    }
    return TRVEditRVData::BeforeChange(forced);
  }
  void DoChange(bool clear_redo) override {
    ++Changes;
    TRVEditRVData::DoChange(clear_redo);
  }
  void Format() { FormatDocument(false, true, false, 0, &Canvas, false, false, false); }
};

// Text styles: 0 plain, 1 bold, 2 Unicode, 3 concatenation-protected, 4 modify-protected,
// 5 delete-protected, 6 split-protected, 7 sticking, 8 Unicode bold. Paragraph styles: 0
// plain, 1 read-only, 2 refusing returns, 3 plain.
struct EditDoc {
  TRVStyle style{nullptr};
  TTestEditData data;
  int beeps = 0;
  TBeepSink previous_sink_;
  EditDoc() {
    data.SetRVStyle(&style);
    while (style.TextStyles()->Count() < 9) style.TextStyles()->Add();
    while (style.ParaStyles()->Count() < 4) style.ParaStyles()->Add();
    auto* ts = style.TextStyles();
    ts->Items(1)->Style.Include(fsBold);
    ts->Items(2)->Unicode = true;
    ts->Items(3)->Protection.Include(rvprConcateProtect);
    ts->Items(4)->Protection.Include(rvprModifyProtect);
    ts->Items(5)->Protection.Include(rvprDeleteProtect);
    ts->Items(6)->Protection.Include(rvprStyleSplitProtect);
    ts->Items(7)->Protection.Include(rvprSticking);
    ts->Items(8)->Unicode = true;
    ts->Items(8)->Style.Include(fsBold);
    style.ParaStyles()->Items(1)->Options.Include(rvpaoReadOnly);
    style.ParaStyles()->Items(2)->Options.Include(rvpaoDoNotWantReturns);
    previous_sink_ = SetBeepSink([this](uint32_t) { ++beeps; });
  }
  ~EditDoc() { SetBeepSink(std::move(previous_sink_)); }
  EditDoc(const EditDoc&) = delete;

  // Items separated by '|'; an item may start with flags: '+' continues the line, '^' a new
  // line of the same paragraph, '#' a page break before it, 'sN' text style N, 'pN'
  // paragraph style N, 'M' a list marker of list 0, '=' a line break item, then ':' and the
  // text (UTF-8; Unicode styles get UTF-16). Example: "s1p0:ab|+:cd".
  void Build(const std::string& items) {
    size_t start = 0;
    while (start <= items.size()) {
      size_t bar = items.find('|', start);
      if (bar == std::string::npos) bar = items.size();
      AddItemText(items.substr(start, bar - start));
      start = bar + 1;
    }
    data.Format();
  }
  void AddItemText(const std::string& s) {
    size_t colon = s.find(':');
    std::string flags = colon == std::string::npos ? "" : s.substr(0, colon);
    std::string text = colon == std::string::npos ? s : s.substr(colon + 1);
    bool cont = false, br = false, pb = false, marker = false, brk = false;
    int32_t st = 0, para = 0;
    for (size_t i = 0; i < flags.size(); ++i) {
      char c = flags[i];
      if (c == '+') cont = true;
      if (c == '^') br = true;
      if (c == '#') pb = true;
      if (c == 'M') marker = true;
      if (c == '=') brk = true;
      if (c == 's' || c == 'p') {
        int32_t v = 0;
        while (i + 1 < flags.size() && isdigit(static_cast<unsigned char>(flags[i + 1]))) v = v * 10 + (flags[++i] - '0');
        (c == 's' ? st : para) = v;
      }
    }
    TCustomRVItemInfo* item;
    if (marker) {
      if (style.ListStyles()->Count() == 0) {
        TRVListLevel* level = style.ListStyles()->Add()->Levels()->Add();
        level->ListType = rvlstDecimal;
        level->FormatString = "%0:s.";
        level->LeftIndent = 20;
      }
      auto* m = new TRVMarkerItemInfo(&data);
      m->StyleNo = rvsListMarker;
      m->ListNo = 0;
      item = m;
      text.clear();
    } else if (brk) {
      item = new TRVBreakItemInfo(&data);
      item->StyleNo = rvsBreak;
      text.clear();
    } else {
      item = new TRVTextItemInfo(&data);
      item->StyleNo = st;
      if (style.TextStyles()->Items(st)->Unicode) {
        item->ItemOptions.Include(rvioUnicodeText);
        text = RVU_WideStringToRawUnicode(WideString(Utf8ToUtf16(text)));
      }
    }
    item->ParaNo = para;
    item->SetSameAsPrev(cont);
    if (!cont && br) item->SetBR(true);
    if (pb) item->SetPageBreakBefore(true);
    data.AddItemAsIs(text, item);
    if (marker) data.AddMarkerInList(data.ItemCount() - 1);
  }

  // Text of an item as UTF-8.
  std::string Text(int32_t i) {
    const AnsiString raw = data.GetItemTextRaw(i);
    if (data.GetItem(i)->ItemOptions.Contains(rvioUnicodeText)) return Utf16ToUtf8(RVU_RawUnicodeToWideString(raw));
    return AnsiToUtf8(raw);
  }

  // The item list: "[text sN pN cont br pb]" per item, "[M n.]" for markers, "[=]" for breaks.
  std::string Dump() {
    std::string out;
    for (int32_t i = 0; i < data.ItemCount(); ++i) {
      TCustomRVItemInfo* it = data.GetItem(i);
      if (it->StyleNo == rvsListMarker) {
        auto* m = static_cast<TRVMarkerItemInfo*>(it);
        out += "[M" + std::string(m->Reset ? "r" : "") + " " + m->DisplayString;
      } else if (it->StyleNo == rvsBreak) {
        out += "[=";
      } else if (it->StyleNo == rvsTable) {
        out += "[table";
      } else if (it->StyleNo == rvsTab) {
        out += "[tab";
      } else {
        out += "[" + Text(i) + " s" + std::to_string(it->StyleNo);
      }
      out += " p" + std::to_string(it->ParaNo);
      if (it->GetSameAsPrev()) out += " cont";
      if (it->GetBR()) out += " br";
      if (it->GetPageBreakBefore()) out += " pb";
      out += "]";
    }
    return out;
  }
  std::string Caret() { return std::to_string(data.CurItemNo()) + ":" + std::to_string(data.OffsetInCurItem()); }
  void At(int32_t item, int32_t offs) { data.SetCaretAt(item, offs); }
};

}  // namespace edittest
}  // namespace pelvar
