// Picture items: display size, spacing and alignment, painting, native-format extra
// properties and the RTF picture group.
#include <cmath>

#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVItem.h"

namespace pelvar {

TRVAnimatorFactory AnimatorFactory = nullptr;

TRVGraphicItemInfo::TRVGraphicItemInfo(TCustomRVData* rvdata, std::unique_ptr<TGraphic> image, uint8_t valign)
    : TRVGraphicItemInfo(rvdata) {
  Image = std::move(image);
  VAlign = valign;
}

TRVGraphicItemInfo::~TRVGraphicItemInfo() = default;

int32_t TRVGraphicItemInfo::GetImageWidth(TRVStyle*) const {
  if (ImageWidth > 0) return ImageWidth;
  return Image ? Image->Width() : 0;
}

int32_t TRVGraphicItemInfo::GetImageHeight(TRVStyle*) const {
  if (ImageHeight > 0) return ImageHeight;
  return Image ? Image->Height() : 0;
}

int32_t TRVGraphicItemInfo::GetMinWidth(const TRVScreenAndDevice* sad, TCanvas*, TCustomRVData*) {
  const int32_t w = GetImageWidth() + 2 * Spacing;
  return sad ? RV_XToDevice(w, *sad) : w;
}

bool TRVGraphicItemInfo::GetBoolValue(int32_t ordinal) const {
  switch (ordinal) {
    case 1: return Image != nullptr;
    case 3:
    case 4: return true;
    case 8: return Image != nullptr && ResizableFlag;
    case 9: return Animator != nullptr;
    default: return TRVRectItemInfo::GetBoolValue(ordinal);
  }
}

bool TRVGraphicItemInfo::GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const {
  if (ordinal == 0) return dynamic_cast<const TMetafile*>(Image.get()) == nullptr;
  return TRVRectItemInfo::GetBoolValueEx(ordinal, rvstyle);
}

void TRVGraphicItemInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVGraphicItemInfo*>(source)) {
    Alt = s->Alt;
    ResizableFlag = s->ResizableFlag;
    ImageFileName = s->ImageFileName;
    ImageWidth = s->ImageWidth;
    ImageHeight = s->ImageHeight;
    NoHTMLImageSize = s->NoHTMLImageSize;
    Image = RVCopyGraphic(s->Image.get());
    ImageCopy = RVCopyGraphic(s->ImageCopy.get());
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

void TRVGraphicItemInfo::Paint(int32_t x0, int32_t y0, TCanvas& canvas, uint32_t state, TRVStyle* style,
                               TRVDrawLineInfo*) {
  const int32_t s = Spacing, w = GetImageWidth(), h = GetImageHeight();
  const int32_t x = x0 + s, y = y0 + s;
  if (Animator) {
    Animator->DrawFrame(x, y, canvas);
  } else if (TGraphic* g = ImageCopy ? ImageCopy.get() : Image.get()) {
    try {
      canvas.StretchDraw(TRect{x, y, x + w, y + h}, g);
    } catch (const Exception&) {
      // A picture that fails to draw leaves its box empty.
    }
  }
  if (!style) return;
  canvas.Brush().SetStyle(bsClear);
  if ((state & ipsCurrent) && style->CurrentItemColor != clNone) {
    canvas.Pen().Color = style->CurrentItemColor;
    canvas.Rectangle(x0 - 1, y0 - 1, x0 + w + 2 * s + 1, y0 + h + 2 * s + 1);
  }
  if (state & ipsSelected) {
    const TColor c = (state & ipsControlFocused) ? style->SelColor : style->InactiveSelColor;
    if (c != clNone) {
      canvas.Pen().Color = c;
      canvas.Rectangle(x0, y0, x0 + w + 2 * s, y0 + h + 2 * s);
    }
  }
}

int32_t TRVGraphicItemInfo::GetRVFExtraPropertyCount() const {
  int32_t n = TRVRectItemInfo::GetRVFExtraPropertyCount();
  n += (VShift != 0) + VShiftAbs + (Spacing != 1);
  n += !ResizableFlag + (ImageWidth > 0) + (ImageHeight > 0) + (MinHeightOnPage > 0) + NoHTMLImageSize +
       (Interval > 0) + !ImageFileName.empty() + !Alt.empty();
  if (auto* b = dynamic_cast<const TBitmap*>(Image.get()); b && b->Transparent())
    n += b->TransparentMode() == tmFixed ? 3 : 2;
  return n;
}

void TRVGraphicItemInfo::SaveRVFExtraProperties(TStream& stream) {
  TRVRectItemInfo::SaveRVFExtraProperties(stream);
  if (VShift != 0) RVFWriteExtraIntProperty(stream, 1, VShift);
  if (VShiftAbs) RVFWriteExtraIntProperty(stream, 2, 1);
  if (Spacing != 1) RVFWriteExtraIntProperty(stream, 9, Spacing);
  if (!ResizableFlag) RVFWriteExtraIntProperty(stream, 10, 0);
  if (ImageWidth > 0) RVFWriteExtraIntProperty(stream, 3, ImageWidth);
  if (ImageHeight > 0) RVFWriteExtraIntProperty(stream, 4, ImageHeight);
  if (MinHeightOnPage > 0) RVFWriteExtraIntProperty(stream, 8, MinHeightOnPage);
  if (NoHTMLImageSize) RVFWriteExtraIntProperty(stream, 12, 1);
  if (Interval > 0) RVFWriteExtraIntProperty(stream, 13, Interval);
  if (auto* b = dynamic_cast<const TBitmap*>(Image.get()); b && b->Transparent()) {
    RVFWriteExtraIntProperty(stream, 5, 1);
    RVFWriteExtraIntProperty(stream, 6, b->TransparentMode());
    if (b->TransparentMode() == tmFixed) RVFWriteExtraIntProperty(stream, 7, b->TransparentColor());
  }
  if (!ImageFileName.empty()) RVFWriteExtraStrProperty(stream, 3, ImageFileName);
  if (!Alt.empty()) RVFWriteExtraStrProperty(stream, 2, Alt);
}

bool TRVGraphicItemInfo::SetExtraIntProperty(int32_t index, int32_t v) {
  switch (index) {
    case 1: VShift = v; return true;
    case 2: VShiftAbs = v != 0; return true;
    case 9: Spacing = v < 0 ? 0 : v; return true;
    case 3: ImageWidth = v; return true;
    case 4: ImageHeight = v; return true;
    case 8: MinHeightOnPage = v; return true;
    case 10: ResizableFlag = v != 0; return true;
    case 12: NoHTMLImageSize = v != 0; return true;
    case 13: Interval = v; return true;
    case 5:
    case 6:
    case 7: {
      // The transparency of a bitmap picture.
      auto* b = dynamic_cast<TBitmap*>(Image.get());
      if (!b) return false;
      if (index == 5)
        b->SetTransparent(v != 0);
      else if (index == 6)
        b->SetTransparentMode(v == tmFixed ? tmFixed : tmAuto);
      else
        b->SetTransparentColor(v);
      return true;
    }
    default: return TRVRectItemInfo::SetExtraIntProperty(index, v);
  }
}

bool TRVGraphicItemInfo::GetExtraIntProperty(int32_t index, int32_t& v) const {
  switch (index) {
    case 1: v = VShift; return true;
    case 2: v = VShiftAbs; return true;
    case 9: v = Spacing; return true;
    case 3: v = ImageWidth; return true;
    case 4: v = ImageHeight; return true;
    case 8: v = MinHeightOnPage; return true;
    case 10: v = ResizableFlag; return true;
    case 12: v = NoHTMLImageSize; return true;
    case 13: v = Interval; return true;
    case 5:
    case 6:
    case 7: {
      auto* b = dynamic_cast<const TBitmap*>(Image.get());
      if (!b) return false;
      v = index == 5 ? int32_t{b->Transparent()} : index == 6 ? int32_t{b->TransparentMode()} : b->TransparentColor();
      return true;
    }
    default: return TRVRectItemInfo::GetExtraIntProperty(index, v);
  }
}

bool TRVGraphicItemInfo::SetExtraStrProperty(int32_t index, const AnsiString& value) {
  if (index == 2) return Alt = value, true;
  if (index == 3) return ImageFileName = value, true;
  return TRVRectItemInfo::SetExtraStrProperty(index, value);
}

bool TRVGraphicItemInfo::GetExtraStrProperty(int32_t index, AnsiString& value) const {
  if (index == 2) return value = Alt, true;
  if (index == 3) return value = ImageFileName, true;
  return TRVRectItemInfo::GetExtraStrProperty(index, value);
}

AnsiString TRVGraphicItemInfo::SaveRVFHeaderTail(TCustomRVData*) { return IntToStr(VAlign); }

void TRVGraphicItemInfo::SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t, const AnsiString&,
                                 double twips_per_pixel, int32_t, TRVColorList&) {
  const uint8_t options = rvdata ? rvdata->GetRTFOptions().ToBits() : 0;
  RVSaveImageToRTF(stream, Image.get(), ImageWidth, ImageHeight, options, twips_per_pixel);
}

void TRVGraphicItemInfo::MovingToUndoList(int32_t item_no, TCustomRVData* rvdata) {
  ImageCopy.reset();
  Animator.reset();
  TRVRectItemInfo::MovingToUndoList(item_no, rvdata);
}

void TRVGraphicItemInfo::TransferAnimator(TCustomRVItemInfo* source, TCustomRVData* rvdata) {
  auto* picture = dynamic_cast<TRVGraphicItemInfo*>(source);
  if (Animator || !picture || picture == this || !picture->Animator) return;
  // The animator factory binds the animator it keeps to this item.
  Animator = std::move(picture->Animator);
  UpdateAnimator(rvdata);
}

void TRVGraphicItemInfo::UpdateAnimator(TCustomRVData* rvdata) {
  if (AnimatorFactory)
    AnimatorFactory(this, rvdata, Animator);
  else
    Animator.reset();
}

AnsiString TRVGraphicItemInfo::GetVShiftCSS() const {
  const int32_t h = GetImageHeight();
  if (VShift == 0 || h == 0 || VAlign != 0) return AnsiString();
  const int32_t v = VShiftAbs ? VShift : static_cast<int32_t>(int64_t{h} * VShift / 100);
  return Format("vertical-align : %d", {v});
}

// ---- RTF pictures ------------------------------------------------------------------------------

void RVSaveImageToRTF(TStream& stream, TGraphic* graphic, int32_t width, int32_t height, uint8_t rtf_options,
                      double twips_per_pixel) {
  if (!graphic) return;
  const TRVRTFOptions options = TRVRTFOptions::FromBits(rtf_options);
  auto w = [&](const AnsiString& s) { RV_StreamWrite(stream, s); };
  auto* meta = dynamic_cast<TMetafile*>(graphic);
  w("{\\pict");
  auto scale = [&](int32_t display, int32_t own, int32_t mm, const char* word) {
    if (display <= 0 || own <= 0) return;
    int32_t base = own;
    if (meta && mm > 0 && (!meta->Enhanced || options.Contains(rvrtfSaveEMFAsWMF)))
      base = static_cast<int32_t>(std::nearbyint(mm * 72.0 / (twips_per_pixel * 127.0)));
    if (base > 0) w(Format("\\%s%d", {word, static_cast<int32_t>(std::nearbyint(display * 100.0 / base))}));
  };
  scale(width, graphic->Width(), meta ? meta->MMWidth() : 0, "picscalex");
  scale(height, graphic->Height(), meta ? meta->MMHeight() : 0, "picscaley");
  auto write_bitmap = [&](const TBitmap& b) {
    const AnsiString hex = RVFSavePicture(const_cast<TBitmap&>(b));
    const int32_t line = b.Height() < 2 ? b.Width() : b.BytesPerScanLine();
    w(Format("\\dibitmap0\\wbmwidthbytes%d\\picw%d\\pich%d\\picwgoal%d\\pichgoal%d ",
             {line, b.Width(), b.Height(), b.Width() * 15, b.Height() * 15}));
    w(hex.size() > 28 ? hex.substr(28) : AnsiString());
  };
  if (auto* b = dynamic_cast<TBitmap*>(graphic)) {
    write_bitmap(*b);
  } else if (meta) {
    const AnsiString hex = RVFSavePicture(*meta);
    if (meta->Enhanced && !options.Contains(rvrtfSaveEMFAsWMF)) {
      w(Format("\\emfblip\\picw%d\\pich%d ", {meta->MMWidth(), meta->MMHeight()}));
      w(hex);
    } else {
      w(Format("\\wmetafile8\\picw%d\\pich%d ", {meta->MMWidth(), meta->MMHeight()}));
      w(hex.size() > 44 ? hex.substr(44) : AnsiString());
    }
  } else if (dynamic_cast<TJPEGImage*>(graphic)) {
    // Written with its own bytes also without rvrtfSaveJpegAsJpeg: a reader takes JPEG
    // pictures as they are, and a bitmap of the decoded pixels would only be larger.
    w(Format("\\jpegblip\\picw%d\\pich%d ", {graphic->Width(), graphic->Height()}));
    w(RVFSavePicture(*graphic));
  } else if (dynamic_cast<TPNGImage*>(graphic)) {
    w(Format("\\pngblip\\picw%d\\pich%d ", {graphic->Width(), graphic->Height()}));
    w(RVFSavePicture(*graphic));
  } else {
    // Without a decoder the picture becomes a white bitmap of its size with its own drawing.
    TBitmap b(graphic->Width(), graphic->Height());
    write_bitmap(b);
  }
  w("}");
}

}  // namespace pelvar

namespace pelvar {

// ---- Native format -------------------------------------------------------------------------------

void TRVGraphicItemInfo::SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t, int32_t para_no,
                                 const AnsiString& name, int32_t, bool force_same_as_prev) {
  const TRVFOptions options = rvdata ? rvdata->GetRVFOptions() : TRVFOptions();
  const bool body = options.Contains(rvfoSavePicturesBody) && Image;
  const int32_t read_mode = body ? (options.Contains(rvfoSaveBinary) ? 2 : 0) : 1;
  const int32_t count = GetRVFExtraPropertyCount() + (body ? 3 : 1);
  const bool tags_strings = rvdata && rvdata->GetOptions().Contains(rvoTagsArePChars);
  RVFWriteItemHeader(stream, StyleNo, count, RVFSaveParaNo(para_no, rvdata, force_same_as_prev),
                     RVFGetItemOptions(ItemOptions, force_same_as_prev) & 0x0F, read_mode,
                     RVFSaveTag(tags_strings, Tag), SaveRVFHeaderTail(rvdata));
  RVFWriteLine(stream, name);
  if (!body) {
    SaveRVFExtraProperties(stream);
    return;
  }
  RVFWriteLine(stream, RVGraphicClassName(Image.get()));
  SaveRVFExtraProperties(stream);
  if (read_mode == 2)
    RVFSavePictureBinary(stream, *Image);
  else
    RVFWriteLine(stream, RVFSavePicture(*Image));
}

bool TRVGraphicItemInfo::ReadRVFHeaderTail(const char*& p, TCustomRVData*) {
  if (*p == 0 || *p == '\r' || *p == '\n') {
    VAlign = 0;
    return true;
  }
  int32_t v = 0;
  if (!RVFReadInteger(p, v)) return false;
  VAlign = static_cast<uint8_t>(v);
  return true;
}

bool TRVGraphicItemInfo::ReadRVFLine(const AnsiString& s, TCustomRVData* rvdata, int32_t& read_state,
                                     bool& next_binary, AnsiString& name, int32_t line_no, int32_t line_count,
                                     int32_t read_mode) {
  if (read_mode == 1) {
    if (line_no == 0) {
      name = s;
      if (rvdata)
        if (TGraphic* g = rvdata->DoRVFPictureNeeded(s, Tag)) Image.reset(g);
      return true;
    }
    const AnsiString old_file = ImageFileName;
    ReadRVFExtraProperty(s);
    if (!Image && rvdata && !ImageFileName.empty() && ImageFileName != old_file)
      if (TGraphic* g = rvdata->DoRVFPictureNeeded(ImageFileName, Tag)) Image.reset(g);
    return true;
  }
  if (line_no == 0) {
    name = s;
    return true;
  }
  if (line_no == 1) {
    Image = RVCreateGraphic(s);
    if (!Image) {
      if (rvdata) rvdata->SetRVFWarnings(rvdata->GetRVFWarnings() | 1);
      return rvdata && rvdata->GetRVFOptions().Contains(rvfoIgnoreUnknownPicFmt);
    }
    if (read_mode == 2 && line_count == 3) next_binary = true;
    return true;
  }
  if (line_no == line_count - 1) {
    read_state = 2;
    if (!Image) return true;
    try {
      bool ok = true;
      if (read_mode == 2)
        RVFLoadPictureFromBinaryString(s, *Image);
      else
        ok = RVFLoadPicture(s, *Image);
      if (auto* m = dynamic_cast<TMetafile*>(Image.get()); m && !m->Enhanced && m->Inch == 0) m->Inch = 1440;
      return ok;
    } catch (const Exception&) {
      // The picture that failed becomes a copy of the sheet's invalid picture; the reader is
      // told by the warning flag.
      TRVStyle* style = rvdata ? rvdata->GetRVStyle() : nullptr;
      Image = style ? RVCopyGraphic(style->InvalidPicture()) : nullptr;
      if (!Image) Image = RVMakeBadPicture();
      if (rvdata) rvdata->SetRVFWarnings(rvdata->GetRVFWarnings() | 64);
      return true;
    }
  }
  ReadRVFExtraProperty(s);
  if (read_mode == 2 && line_no == line_count - 2) next_binary = true;
  return true;
}

}  // namespace pelvar

namespace pelvar {

namespace {
// name relative to dir when it lies below it, else as it stands.
AnsiString RelativePath(const AnsiString& name, const AnsiString& dir) {
  if (!dir.empty() && name.size() > dir.size() && name.compare(0, dir.size(), dir) == 0) return name.substr(dir.size());
  return name;
}
}  // namespace

void TRVGraphicItemInfo::SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString&,
                                    const AnsiString& path, const AnsiString& images_prefix, int32_t& image_save_no,
                                    TColor color, uint32_t save_options, bool use_css) {
  const bool use_source = (save_options & (1u << 12)) != 0 && !ImageFileName.empty();
  AnsiString location = use_source ? RelativePath(ImageFileName, path) : AnsiString();
  bool do_default = true;
  if (rvdata) rvdata->DoHTMLSaveImage(rvdata, item_no, path, color, location, do_default);
  if (do_default) {
    if (use_source)
      location = RelativePath(ImageFileName, path);
    else if (rvdata && Image) {
      // A picture that cannot be written (an empty one, one that no format here can
      // encode, a file that cannot be made) is left out, its alternative text standing
      // in for it, and the page goes on.
      try {
        location = rvdata->SavePicture(rvsfHTML, images_prefix, path, image_save_no, (save_options & 1) != 0, color,
                                       Image.get());
      } catch (const Exception&) {
        location.clear();
        if (!Alt.empty()) RV_StreamWrite(stream, RV_HTMLEscapeAttrText(Alt));
        return;
      }
    }
  }
  if (location.empty()) return;
  const bool xhtml = (save_options & (1u << 13)) != 0;
  AnsiString align;
  static const char* const kAlign[] = {"", "middle", "abstop", "absbottom", "absmiddle"};
  if (VAlign >= 1 && VAlign <= 4)
    align = xhtml ? Format(" align=\"%s\"", {kAlign[VAlign]}) : Format(" align=%s", {kAlign[VAlign]});
  AnsiString attrs;
  if (save_options & (1u << 5)) RV_AddStrWithSpace(attrs, "border=" + RV_HTMLIntAttrValue(0, save_options));
  if (((save_options & (1u << 6)) && !NoHTMLImageSize) || ImageWidth > 0 || ImageHeight > 0)
    RV_AddStrWithSpace(attrs, "width=" + RV_HTMLIntAttrValue(GetImageWidth(), save_options) +
                                  " height=" + RV_HTMLIntAttrValue(GetImageHeight(), save_options));
  if (!Alt.empty() || use_css) RV_AddStrWithSpace(attrs, "alt=\"" + RV_HTMLEscapeAttrText(Alt) + "\"");
  if (Spacing > 0)
    RV_AddStrWithSpace(attrs, "hspace=" + RV_HTMLIntAttrValue(Spacing, save_options) +
                                  " vspace=" + RV_HTMLIntAttrValue(Spacing, save_options));
  if (!Hint.empty()) RV_AddStrWithSpace(attrs, RV_GetHintAttribute(1, Hint));
  if (use_css) {
    const AnsiString css = GetVShiftCSS();
    if (!css.empty()) RV_AddStrWithSpace(attrs, "style=\"" + css + "\"");
  }
  attrs = attrs.empty() ? AnsiString(" ") : " " + attrs + " ";
  RV_StreamWrite(stream, Format("<img%s%ssrc=\"%s\"%s>",
                                {align, attrs, RV_HTMLEscapeAttrText(RV_GetHTMLPath(location, save_options, 0)),
                                 RV_HTMLEmptyTagEnd(save_options)}));
}

}  // namespace pelvar
