// List styles: the levels of a bulleted or numbered list (marker kind, indents, marker
// font and picture, numbering start and rules), the list style with its id, the list-style
// collection of a style sheet, their equality and closeness, and the HTML list tags and CSS
// of a level.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/canvas.h"
#include "platform/classes.h"
#include "platform/graphics.h"
#include "platform/inifiles.h"
#include "richtext/model/RVStyle.h"

namespace pelvar {

// The ids of lists and style templates: random numbers 1..2147483646 from one generator,
// seeded from the clock at first use unless a seed is given.
void RVSetRandomSeed(uint32_t seed);
int32_t RVRandomId();

// Set by the program to keep list ids out of component streams (never set here).
extern bool DoNotStoreListIds;

// The font of a level's marker text: Arial, 8 points.
class TRVMarkerFont : public TFont {
 public:
  TRVMarkerFont();
  bool IsDefault() const;
};

enum TRVListType : uint8_t {
  rvlstBullet,
  rvlstPicture,
  rvlstImageList,
  rvlstDecimal,
  rvlstLowerAlpha,
  rvlstUpperAlpha,
  rvlstLowerRoman,
  rvlstUpperRoman,
  rvlstImageListCounter,
  rvlstUnicodeBullet
};
enum TRVMarkerAlignment : uint8_t { rvmaLeft, rvmaRight, rvmaCenter };
enum TRVListLevelOption : uint8_t { rvloContinuous, rvloLevelReset, rvloLegalStyleNumbering };
using TRVListLevelOptions = TRVSet<TRVListLevelOption, uint8_t>;

inline bool RVIsNumberedType(TRVListType t) { return t >= rvlstDecimal && t <= rvlstImageListCounter; }
inline bool RVIsTextNumberedType(TRVListType t) { return t >= rvlstDecimal && t <= rvlstUpperRoman; }

class TRVListLevel : public TCollectionItem {
 public:
  explicit TRVListLevel(TCollection* collection);

  TRVListType ListType = rvlstBullet;
  TObject* ImageList = nullptr;  // not owned; cleared when it goes away
  // Sets ImageList; an image list that is a component tells the level's style sheet when
  // it goes away, so that no level keeps it.
  void SetImageList(TObject* value);
  // The style sheet the level belongs to (through its list style), or nullptr.
  TRVStyle* GetRVStyle() const;
  int32_t ImageIndex = 0;
  AnsiString FormatString = AnsiString(1, '\xB7');
  WideString FormatStringW;
  int32_t LeftIndent = 0;
  int32_t FirstIndent = 10;
  int32_t MarkerIndent = 0;
  TRVMarkerAlignment MarkerAlignment = rvmaLeft;
  TRVListLevelOptions Options{rvloContinuous, rvloLevelReset};
  int32_t StartFrom = 1;

  // Created empty (with its defaults) on first read.
  TRVMarkerFont* Font();
  bool HasFontObject() const { return font_ != nullptr; }
  void SetFont(const TFont* value);
  // The marker picture (nullptr: none).
  TGraphic* Picture() const { return picture_.get(); }
  void SetPicture(std::shared_ptr<TGraphic> value);
  bool HasPicture() const { return picture_ && !picture_->Empty(); }
  bool HasNumbering() const { return RVIsNumberedType(ListType); }
  bool UsesFont() const {
    return ListType == rvlstBullet || RVIsTextNumberedType(ListType) || ListType == rvlstUnicodeBullet;
  }

  void Assign(TPersistent* source) override;
  AnsiString DisplayName() const override;
  bool IsEqual(const TRVListLevel* value) const;
  int32_t Closeness(const TRVListLevel* value) const;

  AnsiString GetHTMLListCSS() const;
  // The level's keys under key_format (a Format pattern with one %s).
  void WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& key_format);
  void ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& key_format);
  void WriteHTMLOpenTag(TStream& stream, bool use_css) const;
  void WriteHTMLCloseTag(TStream& stream) const;

  // Component streaming (RVStyle_sheet.cpp): the published properties, the font and the
  // picture ("Picture.Data") when the level has them, the format strings in hexadecimal,
  // the image list by name or, while a document streams the list styles, by its Tag.
  void DefinePublished(TPublishedProperties& props) override;

 protected:
  void DefineProperties(TFiler* filer) override;

 private:
  friend class TRVListLevelFontProps;
  friend class TRVListLevelPictureProps;
  bool SameFont(const TRVListLevel* value) const;
  bool SamePicture(const TRVListLevel* value) const;
  // The document data streaming the level's list styles (nullptr: none).
  TObject* StreamingRVData() const;
  std::unique_ptr<TRVMarkerFont> font_;
  std::shared_ptr<TGraphic> picture_;
  std::unique_ptr<TPersistent> font_props_, picture_props_;
};

class TRVListLevelCollection : public TCollection {
 public:
  explicit TRVListLevelCollection(TPersistent* owner);
  TRVListLevel* Add() { return static_cast<TRVListLevel*>(TCollection::Add()); }
  // Raises EListError for an index out of range.
  TRVListLevel* Items(int32_t index) const;
  bool IsEqual(const TRVListLevelCollection* value) const;
  TPersistent* Owner() const { return owner_; }

 protected:
  TPersistent* GetOwner() const override { return owner_; }

 private:
  TPersistent* owner_;
};

class TRVListInfo : public TCustomRVInfo {
 public:
  explicit TRVListInfo(TCollection* collection);

  TRVListLevelCollection* Levels() { return &levels_; }
  const TRVListLevelCollection* Levels() const { return &levels_; }
  bool OneLevelPreview = false;

  // The list id, created at the first request (never 0) and kept.
  int32_t GetListId();
  void SetListId(int32_t value) { list_id_ = value; }
  bool HasNumbering() const;
  bool HasTextNumbering() const;

  void Assign(TPersistent* source) override;
  bool SameProperties(TCustomRVInfo* value, bool ignore_references, bool ignore_list_id) override;
  bool SameAsMapped(TCustomRVInfo* value, const TRVIntegerList& mapping) override;
  int32_t Closeness(TCustomRVInfo* value) override;
  // The base keys, "LevelsCount", "OneLevelPreview" and every level under "Lvl<i>";
  // reading appends the levels read to those there are.
  void WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& key_format);
  void ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& key_format);
  // Component streaming: Levels, OneLevelPreview and "LstID" (unless DoNotStoreListIds).
  void DefinePublished(TPublishedProperties& props) override;

 protected:
  void DefineProperties(TFiler* filer) override;

 private:
  TRVListLevelCollection levels_;
  int32_t list_id_ = 0;
};

class TRVListInfos : public TCustomRVInfos {
 public:
  explicit TRVListInfos(TPersistent* owner = nullptr);
  TRVListInfo* Add() { return static_cast<TRVListInfo*>(TCollection::Add()); }
  // Raises EListError for an index out of range (no invalid-index style here).
  TRVListInfo* Items(int32_t index) const;
  void RemoveImageList(TObject* image_list);
  // The document data that streams the collection at the moment (nullptr otherwise).
  TObject* RVData = nullptr;
};

// The font text of the INI form: "name,height,styles,pitch,colour,charset"; parsing
// raises EConvertError for a non-numeric height, pitch or charset.
AnsiString RVFontToIniText(const TFont& font);
void RVIniTextToFont(const AnsiString& text, TFont& font);

}  // namespace pelvar
