// Bullets and hotspots: an image of an image list inline in the text, a hotspot being a
// bullet that is a hyperlink with its own image while hot. Their size, painting, native
// format (the list named by its Tag), RTF picture and HTML image, and the shared routines
// that write list images to RTF and to the picture files of an HTML export.
#include <algorithm>

#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVImageList.h"
#include "richtext/model/RVItem.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

// ---- Size and properties ---------------------------------------------------------------------

int32_t TRVBulletItemInfo::GetImageIndex(bool) const { return ImageIndex; }

int32_t TRVBulletItemInfo::GetImageWidth(TRVStyle*) const { return ImageList ? ImageList->Width() : 0; }

int32_t TRVBulletItemInfo::GetImageHeight(TRVStyle*) const { return ImageList ? ImageList->Height() : 0; }

int32_t TRVBulletItemInfo::GetMinWidth(const TRVScreenAndDevice* sad, TCanvas*, TCustomRVData*) {
  const int32_t w = GetImageWidth() + 2 * Spacing;
  return sad ? RV_XToDevice(w, *sad) : w;
}

bool TRVBulletItemInfo::GetBoolValue(int32_t ordinal) const {
  switch (ordinal) {
    case 1: return ImageList != nullptr;
    case 3: return true;
    default: return TRVRectItemInfo::GetBoolValue(ordinal);
  }
}

void TRVBulletItemInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVBulletItemInfo*>(source)) {
    ImageList = s->ImageList;
    ImageIndex = s->ImageIndex;
    NoHTMLImageSize = s->NoHTMLImageSize;
  }
  if (auto* r = dynamic_cast<TRVRectItemInfo*>(source)) {
    MinHeightOnPage = r->MinHeightOnPage;
    VAlign = r->VAlign;
    VShift = r->VShift;
    VShiftAbs = r->VShiftAbs;
    Spacing = r->Spacing;
  }
  TRVRectItemInfo::Assign(source);
}

void TRVHotspotItemInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVHotspotItemInfo*>(source)) HotImageIndex = s->HotImageIndex;
  TRVBulletItemInfo::Assign(source);
}

bool TRVHotspotItemInfo::GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const {
  switch (ordinal) {
    case 1:
    case 2:
    case 4: return true;
    case 3: return ImageIndex != HotImageIndex;
    default: return TRVBulletItemInfo::GetBoolValueEx(ordinal, rvstyle);
  }
}

void TRVHotspotItemInfo::Execute(TCustomRVData* rvdata) {
  if (rvdata) rvdata->DoJump(rvdata->FirstJumpNo + JumpID);
}

void TRVHotGraphicItemInfo::Execute(TCustomRVData* rvdata) {
  if (rvdata) rvdata->DoJump(rvdata->FirstJumpNo + JumpID);
}

// ---- Painting ------------------------------------------------------------------------------------

void TRVBulletItemInfo::Paint(int32_t x, int32_t y, TCanvas& canvas, uint32_t state, TRVStyle* style,
                              TRVDrawLineInfo*) {
  const int32_t s = Spacing;
  TColor blend = clNone;
  if ((state & ipsSelected) && style) blend = (state & ipsControlFocused) ? style->SelColor : style->InactiveSelColor;
  if (ImageList) ImageList->Draw(canvas, x + s, y + s, GetImageIndex((state & ipsHover) != 0), blend);
  if ((state & ipsCurrent) && style && style->CurrentItemColor != clNone) {
    // Only the outline: a filling brush would hide the image.
    canvas.Pen().Color = style->CurrentItemColor;
    canvas.Pen().Width = 1;
    canvas.Pen().Style = psSolid;
    canvas.Brush().SetStyle(bsClear);
    canvas.Rectangle(x, y, x + GetImageWidth() + 2 * s, y + GetImageHeight() + 2 * s);
  }
}

bool TRVBulletItemInfo::PrintToBitmap(TBitmap& bitmap) {
  if (ImageList) {
    TRVPixelCanvas canvas(bitmap.Image);
    ImageList->Draw(canvas, 0, 0, ImageIndex);
  }
  return true;
}

// ---- Native format -------------------------------------------------------------------------------

int32_t TRVBulletItemInfo::GetRVFExtraPropertyCount() const {
  return TRVRectItemInfo::GetRVFExtraPropertyCount() + (VShift != 0) + VShiftAbs + (Spacing != 1) +
         NoHTMLImageSize + !Alt.empty();
}

void TRVBulletItemInfo::SaveRVFExtraProperties(TStream& stream) {
  TRVRectItemInfo::SaveRVFExtraProperties(stream);
  if (VShift != 0) RVFWriteExtraIntProperty(stream, 1, VShift);
  if (VShiftAbs) RVFWriteExtraIntProperty(stream, 2, 1);
  if (Spacing != 1) RVFWriteExtraIntProperty(stream, 9, Spacing);
  if (NoHTMLImageSize) RVFWriteExtraIntProperty(stream, 12, 1);
  if (!Alt.empty()) RVFWriteExtraStrProperty(stream, 2, Alt);
}

bool TRVBulletItemInfo::SetExtraIntProperty(int32_t index, int32_t v) {
  switch (index) {
    case 1: VShift = v; return true;
    case 2: VShiftAbs = v != 0; return true;
    case 9: Spacing = v < 0 ? 0 : v; return true;
    case 12: NoHTMLImageSize = v != 0; return true;
    default: return TRVRectItemInfo::SetExtraIntProperty(index, v);
  }
}

bool TRVBulletItemInfo::GetExtraIntProperty(int32_t index, int32_t& v) const {
  switch (index) {
    case 1: v = VShift; return true;
    case 2: v = VShiftAbs; return true;
    case 9: v = Spacing; return true;
    case 12: v = NoHTMLImageSize; return true;
    default: return TRVRectItemInfo::GetExtraIntProperty(index, v);
  }
}

bool TRVBulletItemInfo::SetExtraStrProperty(int32_t index, const AnsiString& value) {
  if (index == 2) return Alt = value, true;
  return TRVRectItemInfo::SetExtraStrProperty(index, value);
}

bool TRVBulletItemInfo::GetExtraStrProperty(int32_t index, AnsiString& value) const {
  if (index == 2) return value = Alt, true;
  return TRVRectItemInfo::GetExtraStrProperty(index, value);
}

AnsiString TRVBulletItemInfo::SaveRVFHeaderTail(TCustomRVData*) {
  const int32_t tag = ImageList ? static_cast<int32_t>(ImageList->Tag()) : 0;
  return Format("%d %d", {tag, ImageIndex});
}

AnsiString TRVHotspotItemInfo::SaveRVFHeaderTail(TCustomRVData* rvdata) {
  return Format("%s %d", {TRVBulletItemInfo::SaveRVFHeaderTail(rvdata), HotImageIndex});
}

bool TRVBulletItemInfo::ReadImageIndex(const char*& p, TCustomRVData* rvdata, int32_t& index) {
  if (!RVFReadInteger(p, index)) return false;
  if (!ImageList || index < ImageList->Count()) return true;
  if (rvdata) rvdata->SetRVFWarnings(rvdata->GetRVFWarnings() | 8);
  if (!rvdata || !rvdata->GetRVFOptions().Contains(rvfoConvLargeImageIdxToZero)) return false;
  index = 0;
  return true;
}

bool TRVBulletItemInfo::ReadRVFHeaderTail(const char*& p, TCustomRVData* rvdata) {
  int32_t tag = 0;
  if (!RVFReadInteger(p, tag)) return false;
  // The list first, so that the index can be checked against it.
  const char* q = p;
  int32_t index = 0;
  if (!RVFReadInteger(q, index)) return false;
  ImageList = rvdata ? dynamic_cast<TCustomImageList*>(rvdata->DoRVFImageListNeeded(tag)) : nullptr;
  return ReadImageIndex(p, rvdata, ImageIndex);
}

bool TRVHotspotItemInfo::ReadRVFHeaderTail(const char*& p, TCustomRVData* rvdata) {
  if (!TRVBulletItemInfo::ReadRVFHeaderTail(p, rvdata)) return false;
  const char* q = p;
  while (*q == ' ') ++q;
  if (*q == 0 || *q == '\r' || *q == '\n') {
    HotImageIndex = ImageIndex;
    return true;
  }
  return ReadImageIndex(p, rvdata, HotImageIndex);
}

bool TRVBulletItemInfo::ReadRVFLine(const AnsiString& s, TCustomRVData*, int32_t&, bool&, AnsiString& name,
                                    int32_t line_no, int32_t, int32_t) {
  if (line_no == 0)
    name = s;
  else
    ReadRVFExtraProperty(s);
  return true;
}

void TRVBulletItemInfo::SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t, int32_t para_no,
                                const AnsiString& name, int32_t, bool force_same_as_prev) {
  const bool tags_strings = rvdata && rvdata->GetOptions().Contains(rvoTagsArePChars);
  RVFWriteItemHeader(stream, StyleNo, GetRVFExtraPropertyCount() + 1,
                     RVFSaveParaNo(para_no, rvdata, force_same_as_prev),
                     RVFGetItemOptions(ItemOptions, force_same_as_prev), 0, RVFSaveTag(tags_strings, Tag),
                     SaveRVFHeaderTail(rvdata));
  RVFWriteLine(stream, name);
  SaveRVFExtraProperties(stream);
}

// ---- RTF -------------------------------------------------------------------------------------------
namespace {

void PutLe(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The device-independent bitmap of a bitmap file: the file without its 14-byte header.
std::string DibOf(const TBitmap& b) {
  TMemoryStream m;
  b.SaveToStream(m);
  std::string bytes(static_cast<size_t>(m.Size()), '\0');
  m.SetPosition(0);
  if (!bytes.empty()) m.ReadBuffer(bytes.data(), m.Size());
  return bytes.size() > 14 ? bytes.substr(14) : std::string();
}

// A metafile (no placeable header) that paints the bitmap at its own size: window origin
// and extent, one stretched-DIB record, the end record.
std::string MetafileOfBitmap(const TBitmap& b) {
  const std::string dib = DibOf(b);
  const uint16_t w = static_cast<uint16_t>(b.Width()), h = static_cast<uint16_t>(b.Height());
  std::string recs;
  auto record = [&](uint16_t func, const std::string& params) {
    PutLe(recs, static_cast<uint32_t>((6 + params.size()) / 2), 4);
    PutLe(recs, func, 2);
    recs += params;
  };
  std::string p;
  PutLe(p, 0, 2), PutLe(p, 0, 2);
  record(0x020B, p);  // SETWINDOWORG y, x
  p.clear();
  PutLe(p, h, 2), PutLe(p, w, 2);
  record(0x020C, p);  // SETWINDOWEXT y, x
  p.clear();
  PutLe(p, 0x00CC0020u, 4);  // SRCCOPY
  PutLe(p, 0, 2);            // DIB_RGB_COLORS
  PutLe(p, h, 2), PutLe(p, w, 2), PutLe(p, 0, 2), PutLe(p, 0, 2);  // source height, width, y, x
  PutLe(p, h, 2), PutLe(p, w, 2), PutLe(p, 0, 2), PutLe(p, 0, 2);  // destination height, width, y, x
  p += dib;
  const uint32_t max_record = static_cast<uint32_t>((6 + p.size()) / 2);
  record(0x0F43, p);  // STRETCHDIB
  record(0x0000, std::string());  // EOF
  std::string mf;
  PutLe(mf, 1, 2);       // in memory
  PutLe(mf, 9, 2);       // header words
  PutLe(mf, 0x0300, 2);  // version
  PutLe(mf, static_cast<uint32_t>((18 + recs.size()) / 2), 4);
  PutLe(mf, 0, 2);  // objects
  PutLe(mf, max_record, 4);
  PutLe(mf, 0, 2);
  return mf + recs;
}

}  // namespace

void RTFImageListImage(TStream& stream, TCustomImageList* image_list, int32_t image_index, uint8_t rtf_options) {
  if (!image_list || image_index < 0 || image_index >= image_list->Count()) return;
  TBitmap b;
  image_list->GetBitmap(image_index, b);
  auto w = [&](const AnsiString& s) { RV_StreamWrite(stream, s); };
  w("{\\pict");
  if (TRVRTFOptions::FromBits(rtf_options).Contains(rvrtfSaveBitmapDefault)) {
    const AnsiString hex = RVFSavePicture(b);
    w(Format("\\dibitmap0\\wbmwidthbytes%d\\picw%d\\pich%d\\picwgoal%d\\pichgoal%d ",
             {b.BytesPerScanLine(), b.Width(), b.Height(), b.Width() * 15, b.Height() * 15}));
    w(hex.size() > 28 ? hex.substr(28) : AnsiString());
  } else {
    // No metafile recorder here: the metafile carries the bitmap itself, so the image is
    // kept whole either way.
    w(Format("\\wmetafile1\\picw%d\\pich%d ", {b.Width(), b.Height()}));
    w(RVFStringToHex(MetafileOfBitmap(b)));
  }
  w("}");
}

void TRVBulletItemInfo::SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t, const AnsiString&, double, int32_t,
                                TRVColorList&) {
  RTFImageListImage(stream, ImageList, ImageIndex, rvdata ? rvdata->GetRTFOptions().ToBits() : 0);
}

// ---- HTML ------------------------------------------------------------------------------------------

void HTMLBulletLocation(TCustomImageList* image_list, int32_t image_index, TGraphic* graphic,
                        TRVHTMLBulletList& bullet_list, uint32_t save_options, TColor back_color,
                        int32_t& image_counter, const AnsiString& image_prefix, const AnsiString& path,
                        TCustomRVData* rvdata, AnsiString& location) {
  for (const TRVHTMLBulletInfo& b : bullet_list.Items)
    if (b.ImageList == image_list && b.ImageIndex == image_index && b.Graphic == graphic &&
        b.BackColor == back_color) {
      location = b.FileName;
      return;
    }
  TBitmap bmp;
  if (image_list) {
    bmp.Image = TPixelImage(image_list->Width(), image_list->Height());
  } else if (graphic) {
    bmp.Image = TPixelImage(graphic->Width(), graphic->Height());
  }
  {
    TRVPixelCanvas canvas(bmp.Image);
    canvas.Brush().SetColor(back_color);
    canvas.Pen().Color = back_color;
    canvas.Rectangle(0, 0, bmp.Width(), bmp.Height());
    if (image_list)
      image_list->Draw(canvas, 0, 0, image_index);
    else if (graphic)
      canvas.Draw(0, 0, graphic);
  }
  location.clear();
  if (rvdata)
    location = RV_GetHTMLPath(rvdata->SavePicture(rvsfHTML, image_prefix, path, image_counter, (save_options & 1) != 0,
                                                  back_color, &bmp),
                              save_options, 0);
  bullet_list.Items.push_back({location, image_list, image_index, back_color, graphic});
}

AnsiString TRVBulletItemInfo::GetVShiftCSS() const {
  const int32_t h = GetImageHeight();
  if (VShift == 0 || h == 0 || VAlign != 0) return AnsiString();
  const int32_t v = VShiftAbs ? VShift : static_cast<int32_t>(int64_t{h} * VShift / 100);
  return Format("vertical-align : %d", {v});
}

void TRVBulletItemInfo::SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString&,
                                   const AnsiString& path, const AnsiString& images_prefix, int32_t& image_save_no,
                                   TColor color, uint32_t save_options, bool use_css) {
  AnsiString location;
  bool do_default = true;
  if (rvdata) rvdata->DoHTMLSaveImage(rvdata, item_no, path, color, location, do_default);
  if (do_default) {
    TRVHTMLBulletList own;
    TRVHTMLBulletList* list = rvdata ? rvdata->GetAbsoluteRootData()->HTMLBullets : nullptr;
    HTMLBulletLocation(ImageList, ImageIndex, nullptr, list ? *list : own, save_options, color, image_save_no,
                       images_prefix, path, rvdata, location);
  }
  const bool utf8 = (save_options & (1u << 14)) != 0;
  const uint32_t cp = rvdata ? rvdata->GetDefaultCodePage() : 0;
  auto text = [&](const AnsiString& s) { return utf8 ? AnsiString(RVU_AnsiToUTF8(cp, s)) : s; };
  AnsiString size = (save_options & (1u << 5)) ? " border=0 " : " ";
  if ((save_options & (1u << 6)) && !NoHTMLImageSize)
    size += Format("width=%d height=%d ", {GetImageWidth(), GetImageHeight()});
  AnsiString attrs;
  if (use_css) {
    const AnsiString css = GetVShiftCSS();
    if (!css.empty()) RV_AddStrWithSpace(attrs, "style=\"" + css + "\"");
  }
  if (!Alt.empty() || use_css) RV_AddStrWithSpace(attrs, "alt=\"" + text(RV_MakeHTMLStr(Alt, false)) + "\"");
  if (!Hint.empty()) RV_AddStrWithSpace(attrs, text(RV_GetHintAttribute(1, Hint)));
  if (Spacing > 0)
    RV_AddStrWithSpace(attrs, "hspace=" + RV_HTMLIntAttrValue(Spacing, save_options) +
                                  " vspace=" + RV_HTMLIntAttrValue(Spacing, save_options));
  if (!attrs.empty()) attrs = " " + attrs + " ";
  RV_StreamWrite(stream, "<img" + size + attrs + "src=\"" + location + "\"" + RV_HTMLEmptyTagEnd(save_options) + ">");
}

}  // namespace pelvar
