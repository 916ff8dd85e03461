// Plain-text and HTML export of a document: text in single bytes or UTF-16, HTML with
// presentational markup, and HTML with CSS classes or inline styles (optionally XHTML).
// Non-text items write their own HTML and text; the owner may replace any item's output and
// add code at the four places of the page.
#include <algorithm>

#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVMarker.h"
#include "richtext/model/RVStyle_list.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

bool RVPageBreaksAsFormFeeds = false;

namespace {
// JPEG and PNG pictures are written beside HTML pages as they are (their own bytes).
const bool kHTMLPictureClasses = (RV_RegisterHTMLGraphicFormat("TJPEGImage", ".jpg"),
                                  RV_RegisterHTMLGraphicFormat("TPNGImage", ".png"), true);
}  // namespace

// Text inside an attribute value or the title: every markup character escaped, so that no
// value can end its attribute or element early.
AnsiString RV_HTMLEscapeAttrText(const AnsiString& s) {
  AnsiString r;
  r.reserve(s.size());
  for (char c : s) {
    switch (c) {
      case '&': r += "&amp;"; break;
      case '<': r += "&lt;"; break;
      case '>': r += "&gt;"; break;
      case '"': r += "&quot;"; break;
      default: r += c;
    }
  }
  return r;
}

namespace {

AnsiString EscapeAttr(const AnsiString& s) { return RV_HTMLEscapeAttrText(s); }

// HTML output of the whole text in UTF-8 (bit 14) or single bytes.
AnsiString ToOut(const AnsiString& ansi, uint32_t code_page, uint32_t options) {
  return (options & rvsoUTF8) ? RVU_AnsiToUTF8(code_page, ansi) : ansi;
}

// UTF-16 item text: UTF-8 with bit 14, else single bytes with character references.
AnsiString WideOut(const std::string& raw, uint32_t code_page, uint32_t options) {
  WideString w = RVU_RawUnicodeToWideString(raw);
  AnsiString out;
  for (char16_t c : w) {
    WideString one(1, c);
    AnsiString piece;
    if (c == '&') piece = "&amp;";
    else if (c == '<') piece = "&lt;";
    else if (c == '>') piece = "&gt;";
    if (!piece.empty()) {
      out += piece;
      continue;
    }
    if (options & rvsoUTF8) {
      out += Utf16ToUtf8(one);
    } else {
      const std::string r = RVU_WideStringToRawUnicode(one);
      if (RVU_CanConvertToCodePage(code_page, r))
        out += RVU_UnicodeToAnsi(code_page, r);
      else
        out += "&#" + std::to_string(static_cast<int>(c)) + ";";
    }
  }
  return out;
}

// The picture files of list images made during one export: kept by the absolute root for
// the export's duration, so that every document of it (table cells too) writes an image on
// one colour once. An export inside another one uses the list that is there.
class ExportBullets {
 public:
  explicit ExportBullets(TCustomRVData* rvdata) : root_(rvdata->GetAbsoluteRootData()) {
    if (!root_->HTMLBullets) root_->HTMLBullets = &own_;
  }
  ~ExportBullets() {
    if (root_->HTMLBullets == &own_) root_->HTMLBullets = nullptr;
  }
  ExportBullets(const ExportBullets&) = delete;
  ExportBullets& operator=(const ExportBullets&) = delete;

 private:
  TCustomRVData* root_;
  TRVHTMLBulletList own_;
};

struct HtmlWriter {
  TCustomRVData* d;
  TRVStyle* st;
  TStream& s;
  uint32_t options;
  bool css;
  AnsiString path, images_prefix, checkpoint_prefix;
  int32_t& image_save_no;
  TColor color;
  int32_t anchor_no = 0;
  bool para_open = false, div_para = false, li_open = false;
  int32_t open_item = -1;                    // the item that opened the paragraph or list item
  TRVMarkerItemInfo* open_marker = nullptr;  // the marker of the open list paragraph
  int32_t span_style = -1;
  AnsiString empty_end() const { return (options & rvsoXHTML) ? " /" : ""; }
  void W(const AnsiString& x) { RVFWrite(s, x); }
  uint32_t cp() const { return st->DefCodePage; }

  AnsiString TextOf(int32_t i) {
    TCustomRVItemInfo* it = d->GetItem(i);
    AnsiString own;
    if (d->SaveItemToFile(path, d, i, rvsfHTML, (options & rvsoUTF8) != 0, own)) return own;
    AnsiString text = d->GetItemTextRaw(i);
    const bool para_end = i + 1 >= d->ItemCount() || d->IsParaStart(i + 1);
    if (text.empty() && d->IsParaStart(i) && para_end) return "<br" + empty_end() + ">";
    TFontInfo* f = st->TextStyles()->Items(it->GetActualStyleNo(st));
    const uint32_t code_page = d->GetStyleCodePage(it->GetActualStyleNo(st));
    if (f->Options.Contains(rvteoHTMLCode)) return text;
    if (it->ItemOptions.Contains(rvioUnicodeText)) {
      if (css && AnsiSameText(f->FontName, "Symbol")) return RV_SymbolToHTMLW(text);
      AnsiString w = WideOut(text, code_page, options);
      RV_ReplaceAll(w, "  ", "&nbsp; ");
      return w;
    }
    if (css && AnsiSameText(f->FontName, "Symbol")) return RV_SymbolToHTML(text);
    return ToOut(RV_MakeHTMLStr(text, false), code_page, options);
  }

  void Anchor(const TRVCPInfo* cp, bool leading_crlf) {
    if (leading_crlf) RVFWriteLine(s, AnsiString());
    if ((options & rvsoUseCheckpointsNames) && !cp->Name.empty())
      W("<a name=\"" + EscapeAttr(ToOut(cp->Name, this->cp(), options)) + "\"></a>");
    else
      W("<a name=" + (checkpoint_prefix.empty() ? AnsiString("DocViewCheckpoint") : EscapeAttr(checkpoint_prefix)) +
        IntToStr(anchor_no) + "></a>");
    ++anchor_no;
  }

  void CloseSpan() {
    if (span_style >= 0) W("</span>");
    span_style = -1;
  }
  void ClosePara(int32_t item_no) {
    CloseSpan();
    if (li_open) {
      W("</li>");
      li_open = false;
      CloseEvent(item_no);
      return;
    }
    if (!para_open) return;
    W(div_para ? "</div>" : "</p>");
    para_open = false;
    CloseEvent(item_no);
  }
  // The owner's code after a paragraph or list item closes (item_no: the item that opened it).
  void CloseEvent(int32_t item_no) {
    if (item_no < 0) return;
    AnsiString ev;
    d->DoHTMLSaveEvent(d, item_no, ev, css, false);
    W(ev);
  }

  // The list levels between the open list paragraph's marker and m (nullptr closes them all).
  void ListTags(TRVMarkerItemInfo* m) {
    TRVMarkerItemInfo* p = open_marker;
    if (p && m && p->ListNo == m->ListNo) {
      WriteHTMLListTags(s, st->ListStyles()->Items(m->ListNo), p->Level, m->Level, css);
    } else {
      if (p) WriteHTMLListTags(s, st->ListStyles()->Items(p->ListNo), p->Level, -1, css);
      if (m) WriteHTMLListTags(s, st->ListStyles()->Items(m->ListNo), -1, m->Level, css);
    }
    open_marker = m;
  }
  void CloseLists() {
    if (open_marker) ListTags(nullptr);
  }

  // A list item's own style: the picture or list image of the level as its image.
  AnsiString LIStyle(TRVMarkerItemInfo* m, TRVListLevel* l, int32_t item_no) {
    AnsiString r;
    const AnsiString location =
        RVMarkerImageLocation(m, l, d, item_no, path, images_prefix, image_save_no, color, options);
    if (!location.empty()) r = "list-style-image: url('" + EscapeAttr(location) + "')";
    if (st->ParaStyles()->Items(m->ParaNo)->LeftIndent != 0) RV_AddStrEx(r, "margin-left: 0", "; ");
    return r.empty() ? r : " style=\"{ " + r + " }\"";
  }

  AnsiString ParaAttrs(int32_t para_no, bool page_break) {
    AnsiString a;
    if (para_no != 0 || (options & rvsoNoDefCSSStyle))
      a = "class=" + RV_HTMLQuoteAttrValue("rvps" + IntToStr(para_no), options);
    if (page_break) a += AnsiString(a.empty() ? "" : " ") + "style=\"page-break-before: always;\"";
    return a;
  }

  bool Items() {
    int32_t a = 0, ao = 0, b = -1, bo = 0;
    d->GetSelectionBounds(0, a, ao, b, bo);
    for (int32_t i = a; i >= 0 && i <= b && i < d->ItemCount(); ++i) {
      TCustomRVItemInfo* it = d->GetItem(i);
      const int32_t ts = it->StyleNo >= 0 ? it->GetActualStyleNo(st) : it->GetAssociatedTextStyleNo();
      TFontInfo* f = ts >= 0 ? st->TextStyles()->Items(ts) : nullptr;
      if (f && f->Options.Contains(rvteoRTFCode) && !f->Options.Contains(rvteoHTMLCode)) continue;
      const bool full_line = dynamic_cast<TRVFullLineItemInfo*>(it) != nullptr;
      if (!it->GetSameAsPrev()) {
        if (it->GetBR()) {
          CloseSpan();
          if (css) RVFWriteLine(s, AnsiString());
          W("<br" + empty_end() + ">");
        } else {
          const bool nothing_open = !para_open && !li_open;
          ClosePara(open_item);
          if (css && nothing_open) RVFWriteLine(s, AnsiString());
          open_item = i;
          auto* marker = it->StyleNo == rvsListMarker ? static_cast<TRVMarkerItemInfo*>(it) : nullptr;
          TRVListLevel* lvl = marker ? GetLevelInfo(marker, st) : nullptr;
          if (marker && lvl && !(options & rvsoMarkersAsText)) {
            // A list paragraph: the list levels between the previous list paragraph and this one.
            ListTags(marker);
            AnsiString ev;
            d->DoHTMLSaveEvent(d, i, ev, css, true);
            W(ev);
            AnsiString li = lvl->HasNumbering() ? "<li value=" + RV_HTMLIntAttrValue(marker->Counter, options) : "<li";
            if (css) {
              const AnsiString attrs = ParaAttrs(it->ParaNo, it->GetPageBreakBefore());
              if (!attrs.empty()) li += " " + attrs;
              li += LIStyle(marker, lvl, i);
            } else if ((options & rvsoForceNonTextCSS) && it->GetPageBreakBefore()) {
              li += " style=\"page-break-before: always;\"";
            }
            W(li + ">");
            li_open = true;
          } else if (!full_line || it->StyleNo != rvsBreak) {
            CloseLists();
            AnsiString ev;
            d->DoHTMLSaveEvent(d, i, ev, css, true);
            W(ev);
            TParaInfo* p = st->ParaStyles()->Items(it->ParaNo);
            if (css && marker && lvl) {
              // A marker written as text: an ordinary paragraph indented as its list level.
              const AnsiString attrs = ParaAttrs(it->ParaNo, false);
              AnsiString style = lvl->GetHTMLListCSS();
              if (it->GetPageBreakBefore()) style += " page-break-before: always;";
              W("<p" + (attrs.empty() ? AnsiString() : " " + attrs) + " style=\"" + style + "\">");
              div_para = false;
            } else if (css) {
              AnsiString attrs = ParaAttrs(it->ParaNo, it->GetPageBreakBefore());
              div_para = it->GetBoolValue(12);
              W(AnsiString(div_para ? "<div" : "<p") + (attrs.empty() ? "" : " " + attrs) + ">");
            } else {
              AnsiString tag = "<p";
              static const char* const kAlign[] = {"", "right", "center", "justify"};
              if (p->Alignment != rvaLeft) tag += AnsiString(" align=") + kAlign[p->Alignment & 3];
              if (p->BiDiMode == rvbdLeftToRight) tag += " dir=ltr";
              if (p->BiDiMode == rvbdRightToLeft) tag += " dir=rtl";
              if (it->GetPageBreakBefore()) tag += " style=\"page-break-before: always;\"";
              W(tag + ">");
              div_para = false;
            }
            para_open = true;
          } else {
            CloseLists();
          }
        }
      }
      if (it->Checkpoint) Anchor(it->Checkpoint, !css);
      bool link = false;
      if (it->GetBoolValueEx(1, st)) {
        AnsiString target, extras;
        d->DoWriteHyperlink(it->JumpID + d->FirstJumpNo, d, i, rvsfHTML, target, extras);
        CloseSpan();
        AnsiString cls;
        if (css && ts >= 0)
          cls = " class=" + RV_HTMLQuoteAttrValue("rvts" + IntToStr(ts), options);
        AnsiString ex = extras.empty() ? AnsiString() : " " + extras;
        if (!target.empty())
          W("<a" + cls + " href=\"" + EscapeAttr(ToOut(target, cp(), options)) + "\"" + ex + ">");
        else
          W("<a" + cls + ex + ">");
        link = true;
      }
      const AnsiString hint = it->Hint.empty() ? AnsiString() : "title=\"" + EscapeAttr(ToOut(it->Hint, cp(), options)) + "\"";
      if (ts < 0) {
        if (!hint.empty()) W("<span " + hint + ">");
        AnsiString own;
        if (d->SaveItemToFile(path, d, i, rvsfHTML, (options & rvsoUTF8) != 0, own))
          W(own);
        else
          it->SaveToHTML(s, d, i, d->GetItemTextRaw(i), path, images_prefix, image_save_no, color, options, css);
        if (!hint.empty()) W("</span>");
        if (it->StyleNo == rvsBreak) RVFWriteLine(s, AnsiString());
      } else {
        TFontInfo* f0 = st->TextStyles()->Items(0);
        if (css) {
          const bool needs_span = !link && (ts != 0 || f->BackColor != clNone || (options & rvsoNoDefCSSStyle));
          if (!link && ts != span_style) {
            CloseSpan();
            if (needs_span) {
              W("<span class=" + RV_HTMLQuoteAttrValue("rvts" + IntToStr(ts), options) + ">");
              span_style = ts;
            }
          }
        }
        if (!hint.empty()) W("<span " + hint + ">");
        if (!css) W(RV_HTMLOpenFontTag(*f, f0, true, options));
        if (it->StyleNo < 0) {
          AnsiString own;
          if (d->SaveItemToFile(path, d, i, rvsfHTML, (options & rvsoUTF8) != 0, own))
            W(own);
          else
            it->SaveToHTML(s, d, i, d->GetItemTextRaw(i), path, images_prefix, image_save_no, color, options, css);
        } else {
          W(TextOf(i));
        }
        if (!css) W(RV_HTMLCloseFontTag(*f, f0, true));
        if (!hint.empty()) W("</span>");
        // The style span stays open while the next item continues the line in its style.
        const bool next_same = i + 1 <= b && i + 1 < d->ItemCount() && d->GetItem(i + 1)->GetSameAsPrev() &&
                               d->GetItem(i + 1)->StyleNo >= 0 &&
                               d->GetItem(i + 1)->GetActualStyleNo(st) == ts && !d->GetItem(i + 1)->GetBoolValueEx(1, st);
        if (css && !next_same) CloseSpan();
      }
      if (link) W("</a>");
    }
    ClosePara(open_item);
    CloseLists();
    if (d->NotAddedCP()) Anchor(d->NotAddedCP(), !css);
    return true;
  }
};

}  // namespace

bool TCustomRVData::SaveTextToStream(const AnsiString& path, TStream& stream, int32_t line_width, bool selection_only,
                                     bool text_only, bool unicode, bool unicode_write_bom) {
  try {
    int32_t a = 0, ao = 0, b = -1, bo = 0;
    GetSelectionBounds(selection_only ? 1 : 0, a, ao, b, bo);
    if (a < 0 || b < 0 || ItemCount() == 0) return true;
    TRVStyle* st = GetRVStyle();
    const uint32_t def_cp = st ? st->DefCodePage : 0;
    if (unicode && unicode_write_bom) RVFWrite(stream, AnsiString("\xFF\xFE", 2));
    auto put = [&](const AnsiString& piece, bool is_unicode, uint32_t code_page) {
      if (unicode)
        RVFWrite(stream, is_unicode ? piece : RVU_AnsiToUnicode(code_page, piece));
      else
        RVFWrite(stream, is_unicode ? RVU_UnicodeToAnsi(code_page, piece) : piece);
    };
    if (selection_only) {
      // The paragraph's list marker first when the selection starts inside a list paragraph.
      const int32_t first = GetFirstParaItem(a);
      if (first < a && GetItem(first)->StyleNo == rvsListMarker)
        put(GetItem(first)->AsText(line_width, this, GetItemTextRaw(first), path, text_only, unicode), false, def_cp);
    }
    for (int32_t i = a; i <= b && i < ItemCount(); ++i) {
      TCustomRVItemInfo* it = GetItem(i);
      if (i > a) {
        if (it->GetPageBreakBefore() && RVPageBreaksAsFormFeeds)
          put("\f", false, def_cp);
        else if (!it->GetSameAsPrev())
          put("\r\n", false, def_cp);
      }
      AnsiString own;
      if (SaveItemToFile(path, this, i, rvsfText, unicode, own)) {
        RVFWrite(stream, own);
        continue;
      }
      if (it->StyleNo >= 0) {
        AnsiString text = GetItemTextRaw(i);
        const uint8_t o = it->ItemOptions.ToBits();
        const int32_t len = ItemLength(i);
        const int32_t from = i == a ? std::max(ao, 1) : 1;
        const int32_t to = i == b ? std::min(bo, len + 1) : len + 1;
        if (from != 1 || to != len + 1) text = RVU_Copy(text, from, std::max(0, to - from), o);
        const bool u = it->ItemOptions.Contains(rvioUnicodeText);
        put(text, u, u && !unicode ? def_cp : GetStyleCodePage(it->GetActualStyleNo(st)));
        continue;
      }
      if (i == b && bo < 1 && a != b) break;
      if (text_only && !it->GetBoolValue(6)) continue;
      AnsiString t = it->AsText(line_width, this, GetItemTextRaw(i), path, text_only, unicode);
      put(t, unicode && it->GetBoolValue(5), def_cp);
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool TCustomRVData::SaveHTMLToStream(TStream& stream, const AnsiString& path, const AnsiString& title,
                                     const AnsiString& images_prefix, uint32_t options, TColor color,
                                     int32_t& image_save_no, int32_t left_margin, int32_t top_margin,
                                     int32_t right_margin, int32_t bottom_margin, TRVBackground* /*background*/) {
  TRVStyle* st = GetRVStyle();
  if (!st) return false;
  try {
    const bool head = !(options & (rvsoMiddleOnly | rvsoLastOnly));
    const bool body = !(options & (rvsoFirstOnly | rvsoLastOnly));
    const bool tail = !(options & (rvsoFirstOnly | rvsoMiddleOnly));
    const AnsiString e = (options & rvsoXHTML) ? " /" : "";
    TFontInfo* f0 = st->TextStyles()->Items(0);
    const AnsiString charset =
        (options & rvsoUTF8) ? AnsiString("UTF-8") : RV_CharsetToHTMLName(f0->Charset == DEFAULT_CHARSET ? 238 : f0->Charset);
    if (head) {
      if (options & rvsoXHTML) {
        RVFWrite(stream, "<?xml version=\"1.0\"");
        if (!charset.empty()) RVFWrite(stream, " encoding=\"" + charset + "\"");
        RVFWriteLine(stream, "?>");
      }
      RVFWriteLine(stream, "<html><head><title>" + EscapeAttr(ToOut(title, st->DefCodePage, options)) + "</title>");
      if (!charset.empty())
        RVFWriteLine(stream, "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=" + charset + "\"" + e + ">");
      AnsiString x;
      DoSaveHTMLExtra(0, false, x);
      RVFWrite(stream, x);
      RVFWriteLine(stream, "</head>");
      RVFWrite(stream, "<body");
      if (color != clNone) RVFWrite(stream, " bgcolor=" + RV_GetHTMLColor(color, (options & rvsoXHTML) != 0));
      x.clear();
      DoSaveHTMLExtra(1, false, x);
      if (!x.empty()) RVFWrite(stream, " " + x);
      auto q = [&](int32_t v) { return RV_HTMLIntAttrValue(v, options); };
      RVFWriteLine(stream, " leftmargin=" + q(left_margin) + " topmargin=" + q(top_margin) + " rightmargin=" +
                               q(right_margin) + " bottommargin=" + q(bottom_margin) + ">");
      x.clear();
      DoSaveHTMLExtra(2, false, x);
      RVFWrite(stream, x);
    }
    if (body) {
      if (!(options & rvsoDefault0Style)) RVFWriteLine(stream, RV_HTMLOpenFontTag(*f0, nullptr, false, options));
      ExportBullets bullets(this);
      HtmlWriter w{this, st, stream, options, false, path, images_prefix, AnsiString(), image_save_no, color};
      w.Items();
      if (!(options & rvsoDefault0Style)) RVFWriteLine(stream, RV_HTMLCloseFontTag(*f0, nullptr, false));
    }
    if (tail) {
      AnsiString x;
      DoSaveHTMLExtra(3, false, x);
      RVFWrite(stream, x);
      RVFWriteLine(stream, "</body></html>");
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool TCustomRVData::SaveHTMLToStreamEx(TStream& stream, const AnsiString& path, const AnsiString& title,
                                       const AnsiString& images_prefix, const AnsiString& extra_styles,
                                       const AnsiString& external_css, const AnsiString& checkpoint_prefix,
                                       uint32_t options, TColor color, TColor& current_file_color,
                                       int32_t& image_save_no, int32_t left_margin, int32_t top_margin,
                                       int32_t right_margin, int32_t bottom_margin, TRVBackground* /*background*/) {
  TRVStyle* st = GetRVStyle();
  if (!st) return false;
  current_file_color = color;
  try {
    const bool head = !(options & (rvsoMiddleOnly | rvsoLastOnly));
    const bool body = !(options & (rvsoFirstOnly | rvsoLastOnly));
    const bool tail = !(options & (rvsoFirstOnly | rvsoMiddleOnly));
    const bool xhtml = (options & rvsoXHTML) != 0;
    const AnsiString e = xhtml ? " /" : "";
    TFontInfo* f0 = st->TextStyles()->Items(0);
    const AnsiString charset =
        (options & rvsoUTF8) ? AnsiString("UTF-8") : RV_CharsetToHTMLName(f0->Charset == DEFAULT_CHARSET ? 238 : f0->Charset);
    if (head) {
      if (xhtml) {
        RVFWrite(stream, "<?xml version=\"1.0\"");
        if (!charset.empty()) RVFWrite(stream, " encoding=\"" + charset + "\"");
        RVFWriteLine(stream, "?>");
        RVFWriteLine(stream,
                     "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" \"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">");
        RVFWriteLine(stream, "<html xmlns=\"http://www.w3.org/1999/xhtml\">");
      } else {
        RVFWriteLine(stream, "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">");
        RVFWriteLine(stream, "<html>");
      }
      RVFWriteLine(stream, "<head><title>" + EscapeAttr(ToOut(title, st->DefCodePage, options)) + "</title>");
      if (!charset.empty())
        RVFWriteLine(stream, "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=" + charset + "\"" + e + ">");
      RVFWriteLine(stream, "<meta http-equiv=\"Content-Style-Type\" content=\"text/css\"" + e + ">");
      RVFWrite(stream, "<style type=\"text/css\">");
      RVFWriteLine(stream, xhtml ? AnsiString() : AnsiString("<!--"));
      RVFWriteLine(stream, "body {");
      RVFWriteLine(stream, Format("  margin: %dpx %dpx %dpx %dpx;", {top_margin, right_margin, bottom_margin, left_margin}));
      if (color != clNone) RVFWriteLine(stream, "  background-color: " + RV_GetCSSColor(color) + ";");
      RVFWriteLine(stream, "}");
      if (external_css.empty() && !(options & rvsoInlineCSS)) {
        uint32_t css_opts = 0;
        if (options & rvsoNoDefCSSStyle) css_opts |= rvcssNoDefaultSelectors;
        if (options & rvsoUTF8) css_opts |= rvcssUTF8;
        st->WriteCSS(stream, css_opts);
      }
      if (!extra_styles.empty()) RVFWriteLine(stream, extra_styles);
      if (!xhtml) RVFWriteLine(stream, "-->");
      RVFWriteLine(stream, "</style>");
      if (!external_css.empty() && !(options & rvsoInlineCSS))
        RVFWriteLine(stream, "<link type=\"text/css\" href=\"" + EscapeAttr(external_css) + "\" rel=\"stylesheet\"" + e + ">");
      AnsiString x;
      DoSaveHTMLExtra(0, true, x);
      RVFWrite(stream, x);
      RVFWriteLine(stream, "</head>");
      RVFWrite(stream, "<body");
      x.clear();
      DoSaveHTMLExtra(1, true, x);
      if (!x.empty()) RVFWrite(stream, " " + x);
      RVFWrite(stream, ">");
      x.clear();
      DoSaveHTMLExtra(2, true, x);
      RVFWrite(stream, x);
    }
    if (body) {
      ExportBullets bullets(this);
      HtmlWriter w{this, st, stream, options, true, path, images_prefix, checkpoint_prefix, image_save_no, color};
      w.Items();
    }
    if (tail) {
      RVFWriteLine(stream, AnsiString());
      AnsiString x;
      DoSaveHTMLExtra(3, true, x);
      RVFWrite(stream, x);
      RVFWriteLine(stream, "</body></html>");
    }
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace pelvar
