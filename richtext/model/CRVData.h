// The document of the rich-text family: an ordered list of items (each a stored text plus an
// item object) with the checkpoints attached to items, the link to the style sheet and the
// bridge to the control that owns the document (options, events, palette). Adding, deleting
// and reading items, checkpoints, the accessors, and the maintenance and search operations:
// merging text items, style-usage marking and renumbering, list-marker bookkeeping,
// enumeration and position comparison across sub-documents, picture files for exports.
//
// A document without a parent answers the owner's questions itself from the settings and
// events held here; a viewer's document data overrides them to ask its control, a cell
// document forwards them to its parent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/classes.h"
#include "platform/exceptions.h"
#include "platform/graphics.h"
#include "platform/streams.h"
#include "platform/types.h"
#include "richtext/model/RVItem.h"

namespace pelvar {

// Raises EDocViewError "Can't perform Unicode operation" when a UTF-16 item string (two
// bytes per code unit) has an odd byte length.
void RV_CheckUnicodeLength(size_t length);

// ---- Options -------------------------------------------------------------------------------
enum TRVOption : uint8_t {
  rvoAllowSelection,
  rvoSingleClick,
  rvoScrollToEnd,
  rvoClientTextWidth,
  rvoShowCheckpoints,
  rvoShowPageBreaks,
  rvoShowSpecialCharacters,
  rvoTagsArePChars,
  rvoAutoCopyText,
  rvoAutoCopyUnicodeText,
  rvoAutoCopyRVF,
  rvoAutoCopyImage,
  rvoAutoCopyRTF,
  rvoFormatInvalidate,
  rvoDblClickSelectsWord,
  rvoRClickDeselects,
  rvoDisallowDrag,
  rvoShowItemHints,
  rvoFastFormatting
};
using TRVOptions = TRVSet<TRVOption, uint32_t>;
enum TRVFOption : uint8_t {
  rvfoSavePicturesBody,
  rvfoSaveControlsBody,
  rvfoIgnoreUnknownPicFmt,
  rvfoIgnoreUnknownCtrls,
  rvfoConvUnknownStylesToZero,
  rvfoConvLargeImageIdxToZero,
  rvfoSaveBinary,
  rvfoUseStyleNames,
  rvfoSaveBack,
  rvfoLoadBack,
  rvfoSaveTextStyles,
  rvfoSaveParaStyles,
  rvfoSaveLayout,
  rvfoLoadLayout,
  rvfoSaveDocProperties,
  rvfoLoadDocProperties
};
using TRVFOptions = TRVSet<TRVFOption, uint16_t>;
enum TRVRTFOption : uint8_t {
  rvrtfSaveStyleSheet,
  rvrtfDuplicateUnicode,
  rvrtfSaveEMFAsWMF,
  rvrtfSaveJpegAsJpeg,
  rvrtfSaveBitmapDefault,
  rvrtfSaveEMFDefault
};
using TRVRTFOptions = TRVSet<TRVRTFOption, uint8_t>;
enum TRVFReaderStyleMode : uint8_t { rvf_sIgnore, rvf_sInsertMap, rvf_sInsertMerge };
enum TRVPaletteAction : uint8_t { rvpaDoNothing, rvpaAssignPalette, rvpaCreateCopies, rvpaCreateCopiesEx };

// ---- Document state bits ----------------------------------------------------------------------
constexpr uint32_t rvstSelecting = 1u << 0;
constexpr uint32_t rvstLineSelecting = 1u << 1;
constexpr uint32_t rvstHoverDrawn = 1u << 2;
constexpr uint32_t rvstFormatting = 1u << 3;
constexpr uint32_t rvstWordSelectedByDblClick = 1u << 4;
constexpr uint32_t rvstCompletelySelected = 1u << 6;
constexpr uint32_t rvstClearing = 1u << 7;
constexpr uint32_t rvstSubDataEnded = 1u << 9;
constexpr uint32_t rvstDeselecting = 1u << 12;
constexpr uint32_t rvstSubDataEnding = 1u << 13;
constexpr uint32_t rvstNoScrolling = 1u << 14;
constexpr uint32_t rvstLoadingAsSubDoc = 1u << 17;
constexpr uint32_t rvstContinuesList = 1u << 21;
constexpr uint32_t rvstLastParaContinues = 1u << 22;
constexpr uint32_t rvstDragPending = 1u << 25;
constexpr uint32_t rvstDragNotStarted = 1u << 27;
constexpr uint32_t rvstDestroying = 1u << 31;

class TCustomRVData;
class TRVLayoutInfo;
class TRVBackground;
class TRVRTFFontTable;
// Callback of EnumItems: (RVData, ItemNo, var Continue, UserData).
using TRVEnumItemsProc = std::function<void(TCustomRVData* rvdata, int32_t item_no, bool& cont, void* user_data)>;

// Graphic classes (by class name) that HTML export writes in their own format, with the
// file extension of that format (".png"); the list starts empty.
void RV_RegisterHTMLGraphicFormat(const AnsiString& class_name, const AnsiString& ext);
bool RV_IsHTMLGraphicClass(const TGraphic* graphic);

// ---- The document --------------------------------------------------------------------------
class TCustomRVData : public TPersistent {
 public:
  TCustomRVData();
  ~TCustomRVData() override;

  int32_t FirstJumpNo = 0;
  uint32_t State = 0;
  // The picture files an HTML export made from list images so far (set on the absolute root
  // by the export for its duration; nullptr: every bullet writes its own file).
  TRVHTMLBulletList* HTMLBullets = nullptr;

  // The item list: strings are the stored texts, objects the items.
  TStringList& Items() { return *items_; }
  const TStringList& Items() const { return *items_; }
  bool AllowNewPara() const { return allow_new_para_; }
  void SetAllowNewPara(bool value) { allow_new_para_ = value; }
  TRVCPInfo* FirstCP() const { return first_cp_; }
  TRVCPInfo* LastCP() const { return last_cp_; }
  TRVCPInfo* NotAddedCP() const { return not_added_cp_; }
  int32_t CPCount() const { return cp_count_; }

  // ---- Owner-answered operations (a root document answers from the settings below) ----
  virtual TRVOptions GetOptions();
  virtual void SetOptions(TRVOptions value);
  virtual TRVFOptions GetRVFOptions();
  virtual void SetRVFOptions(TRVFOptions value);
  virtual TRVRTFOptions GetRTFOptions();
  virtual void SetRTFOptions(TRVRTFOptions value);
  virtual uint32_t GetRVFWarnings();
  virtual void SetRVFWarnings(uint32_t value);
  virtual TRVFReaderStyleMode GetRVFTextStylesReadMode();
  virtual TRVFReaderStyleMode GetRVFParaStylesReadMode();
  virtual void FreeItem(TCustomRVItemInfo* item, bool clearing);
  virtual uint16_t GetFlags();
  virtual void SetFlags(uint16_t value);
  virtual int32_t GetMaxLength();
  virtual TCustomRVData* GetRVData() { return this; }
  virtual TCustomRVData* GetSourceRVData() { return this; }
  virtual TRVStyle* GetRVStyle();
  virtual TCustomRVData* GetParentData() { return nullptr; }
  virtual TCustomRVData* GetRootData() { return this; }
  virtual TCustomRVData* GetAbsoluteParentData() { return nullptr; }
  virtual TCustomRVData* GetAbsoluteRootData() { return this; }
  virtual TRVPaletteAction GetDoInPaletteMode();
  virtual TRVBiDiMode GetBiDiMode();
  virtual void ItemAction(TRVItemAction action, TCustomRVItemInfo* item, AnsiString& text, TCustomRVData* rvdata);
  virtual bool SaveComponentToFile(const AnsiString& path, TObject* control, TRVSaveFormat format,
                                   AnsiString& out);
  virtual bool ShareItems() { return false; }
  virtual bool IsRootOfControl() { return false; }
  virtual void DoURLNeeded(int32_t id, AnsiString& url);
  virtual AnsiString GetDelimiters();
  // The export range of Kind 0 (whole document) or 1 (selection): the base answers the
  // whole document.
  virtual void GetSelectionBounds(int32_t kind, int32_t& start_item_no, int32_t& start_offs, int32_t& end_item_no,
                                  int32_t& end_offs);
  virtual void InitStyleMappings(TRVIntegerList*& text_mapping, TRVIntegerList*& para_mapping,
                                 TRVIntegerList*& list_mapping);
  virtual void DoneStyleMappings(bool /*as_sub_doc*/) {}
  virtual bool PageBreaksAllowed() { return true; }
  virtual void AfterDeleteStyles(const TRVDeleteUnusedStylesData& /*data*/) {}
  virtual TObject* GetParentControl();
  // For a sub-document: the owner item's number in the parent and a location; -1 and nil
  // for a root.
  virtual void GetParentInfo(int32_t& parent_item_no, std::unique_ptr<TRVStoreSubRVData>& location);
  virtual TCustomRVData* GetChosenRVData() { return nullptr; }
  virtual TCustomRVItemInfo* GetChosenItem() { return nullptr; }
  virtual void Clear();
  virtual void DeleteItems(int32_t first_item_no, int32_t count);
  virtual bool IsAssignedOnProgress();
  virtual void DoProgress(int32_t operation, int32_t stage, uint8_t percent);
  virtual TGraphic* DoRVFPictureNeeded(const AnsiString& name, const TRVTag& tag);
  virtual TObject* DoRVFControlNeeded(const AnsiString& name, const TRVTag& tag);
  virtual void DoItemHint(TCustomRVData* rvdata, int32_t item_no, AnsiString& hint);
  virtual void DoControlAction(TRVControlAction action, int32_t item_no, TObject* control);
  // Offers a picture of an export to the owner; DoDefault stays True without a handler.
  virtual void DoSaveImage2(TGraphic* graphic, TRVSaveFormat format, const AnsiString& path,
                            const AnsiString& image_prefix, int32_t& image_save_no, AnsiString& location,
                            bool& do_default);
  virtual AnsiString GetNextFileName(const AnsiString& images_prefix, const AnsiString& path, const AnsiString& ext,
                                     int32_t& image_save_no, bool override_files);
  // Puts one item read from the native format at index (hooks, marker registration).
  virtual bool InsertRVFItem(int32_t& index, AnsiString& text, TCustomRVItemInfo* item, bool editing,
                             int32_t& full_reformat_start, int32_t& full_reformat_end);
  // Marks the styles in use, deletes the unused ones from the style sheet and renumbers
  // the items; AfterDeleteStyles is called with the renumbering lists.
  virtual void DeleteUnusedStyles(bool text_styles, bool para_styles, bool list_styles);
  virtual TCustomRVData* Edit() { return this; }
  // Owner events of the exports and readers (asked of the root or absolute root).
  virtual void DoSaveRTFExtra(int32_t area, TObject* obj, int32_t index1, int32_t index2, bool in_style_sheet,
                              AnsiString& rtf_code);
  virtual void DoSaveHTMLExtra(int32_t area, bool css_version, AnsiString& html_code);
  virtual void DoReadHyperlink(const AnsiString& target, const AnsiString& extras, TRVLoadFormat doc_format,
                               int32_t& style_no, TRVTag& item_tag, AnsiString& item_name);
  virtual void DoWriteHyperlink(int32_t id, TCustomRVData* rvdata, int32_t item_no, TRVSaveFormat format,
                                AnsiString& target, AnsiString& extras);
  virtual void DoHTMLSaveImage(TCustomRVData* rvdata, int32_t item_no, const AnsiString& path, TColor back_color,
                               AnsiString& location, bool& do_default);
  virtual TGraphic* DoImportPicture(const AnsiString& location, int32_t width, int32_t height);
  virtual TObject* DoRVFImageListNeeded(int32_t image_list_tag);
  // Fires the control's OnJump with the number given (formatted documents; nothing here).
  virtual void DoJump(int32_t /*id*/) {}
  virtual bool SaveItemToFile(const AnsiString& path, TCustomRVData* rvdata, int32_t item_no, TRVSaveFormat format,
                              bool unicode, AnsiString& out);
  virtual void* GetRVPalette();
  virtual void* GetRVLogPalette();
  virtual std::vector<TRVMarkerItemInfo*>* GetPrevMarkers() { return nullptr; }
  virtual TStringList* GetDocProperties() { return nullptr; }
  // The background as the native format stores it: its style (an ordinal of the viewer's
  // background styles) and its picture (nullptr: none). The model has no backgrounds of its
  // own; the viewer's documents answer for theirs.
  virtual int32_t GetRVFBackgroundStyle(TRVBackground* /*background*/) { return 0; }
  virtual std::unique_ptr<TGraphic> GetRVFBackgroundPicture(TRVBackground* /*background*/) { return nullptr; }
  // A background record read: its style and picture (nullptr: none) go to background.
  virtual void SetRVFBackground(TRVBackground* /*background*/, int32_t /*style*/,
                                std::unique_ptr<TGraphic> /*picture*/) {}

  // ---- Construction and removal ----
  void DestroyItem(int32_t item_no, bool clearing);
  void ItemControlAction(TRVControlAction action, int32_t item_no, TCustomRVItemInfo* item);

  // ---- Adding ----
  void AddItem(const AnsiString& text, TCustomRVItemInfo* item);
  void AddItemAsIs(const AnsiString& text, TCustomRVItemInfo* item);
  void AddTextItemTagAsIs(const AnsiString& text, int32_t style_no, int32_t para_no, const TRVTag& tag);
  void AddTextItemTag(const AnsiString& text, int32_t style_no, int32_t para_no, const TRVTag& tag);
  void AddTextItem(const AnsiString& text, int32_t style_no, int32_t para_no);
  void AddAnsiTextItemTagAsIs(const AnsiString& text, int32_t style_no, int32_t para_no, const TRVTag& tag);
  void AddAnsiTextItemTag(const AnsiString& text, int32_t style_no, int32_t para_no, const TRVTag& tag);
  AnsiString ReplaceTabs(const AnsiString& text, int32_t style_no, bool is_unicode);
  bool AddTextBlockTag(const AnsiString& text, int32_t style_no, int32_t first_para_no, int32_t para_no,
                       const TRVTag& tag);
  int32_t AddCheckpoint(const AnsiString& name, bool raise_event, const TRVTag& tag);
  // Moves all items of source to the end of this document (source is emptied).
  void AppendFrom(TCustomRVData* source);
  void NotifyItemsInserting(TCustomRVData* rvdata, bool safe);

  // ---- Checkpoints ----
  void AttachPendingCheckpoint(TCustomRVItemInfo* item, TRVCPInfo*& prev, TRVCPInfo*& pending);
  void LinkCheckpoint(TRVCPInfo* cp, int32_t item_no);
  void UnlinkCheckpoint(TRVCPInfo* cp, bool dec_count);
  void FreeCheckpoint(TRVCPInfo*& cp, bool unlink, bool dec_count);
  void UpdateCheckpointItemNumbers();
  TRVCPInfo* FindCheckpointBefore(int32_t item_no);
  TRVCPInfo* GetItemCheckpoint(int32_t item_no) const { return GetItem(item_no)->Checkpoint; }

  // ---- Accessors ----
  int32_t ItemCount() const { return items_->Count(); }
  TCustomRVItemInfo* GetItem(int32_t item_no) const {
    return static_cast<TCustomRVItemInfo*>(items_->Objects(item_no));
  }
  int32_t GetItemNo(const TCustomRVItemInfo* item) const { return items_->IndexOfObject(item); }
  AnsiString GetItemTextRaw(int32_t item_no) const { return items_->Get(item_no); }
  void SetItemTextRaw(int32_t item_no, const AnsiString& text) { items_->Put(item_no, text); }
  AnsiString GetItemTextA(int32_t item_no);
  const TRVTag& GetItemTag(int32_t item_no) const { return GetItem(item_no)->Tag; }
  int32_t GetItemPara(int32_t item_no) const { return GetItem(item_no)->ParaNo; }
  uint8_t GetItemOptions(int32_t item_no) const { return GetItem(item_no)->ItemOptions.ToBits(); }
  int32_t GetItemStyle(int32_t item_no) { return GetActualStyle(GetItem(item_no)); }
  int32_t GetActualStyle(const TCustomRVItemInfo* item);
  int32_t GetActualStyle2(int32_t style_no, int32_t para_no);
  int32_t IsTextItem(int32_t item_no) { return GetItemStyle(item_no) >= 0 ? 1 : 0; }
  int32_t ItemLength(int32_t item_no) const;
  int32_t GetOffsAfterItem(int32_t item_no);
  int32_t GetOffsBeforeItem(int32_t item_no) { return IsTextItem(item_no); }
  bool IsFromNewLine(int32_t item_no) const { return !GetItem(item_no)->GetSameAsPrev(); }
  bool IsParaStart(int32_t item_no) const { return GetItem(item_no)->IsParaStart(); }
  bool PageBreaksBeforeItem(int32_t item_no) const;
  void SetItemPageBreakBefore(int32_t item_no, bool value);
  template <typename T>
  bool CheckItemClass(int32_t item_no) const {
    if (dynamic_cast<const T*>(GetItem(item_no))) return true;
    throw EDocViewError("Can't get or set this kind of information for this item");
  }
  int32_t FindControlItemNo(TObject* control) const;
  bool GetItemExtraIntProperty(int32_t item_no, int32_t prop, int32_t& value) const {
    return GetItem(item_no)->GetExtraIntProperty(prop, value);
  }
  void ClampItemNo(int32_t& item_no) const;
  int32_t NextCharOffs(const AnsiString& text, int32_t item_no, int32_t offs) const;
  int32_t PrevCharOffs(const AnsiString& text, int32_t item_no, int32_t offs) const;
  int32_t GetFirstParaItem(int32_t item_no) const;
  int32_t GetFirstParaSectionItem(int32_t item_no) const;
  void ExpandToPara(int32_t item_no1, int32_t item_no2, int32_t& first_item_no, int32_t& last_item_no) const;
  void ExpandToParaSection(int32_t item_no1, int32_t item_no2, int32_t& first_item_no, int32_t& last_item_no) const;
  void FixParaNoOfParagraph(int32_t item_no);
  TRVBiDiMode GetItemBiDiMode(int32_t item_no);
  TRVBiDiMode GetParaBiDiMode(int32_t para_no);
  uint32_t GetStyleCodePage(int32_t style_no);
  uint32_t GetDefaultCodePage();
  uint32_t RVGetStyleLocale(int32_t style_no);
  bool IsDelimiterA(char ch);
  bool IsDelimiterW(char16_t ch);
  bool IsDelimiter(const AnsiString& s, int32_t index, uint8_t item_options);
  static void ReplaceNullChars(AnsiString& text);
  void Beep();

  // ---- Sharing and palette ----
  void ShareItemsFrom(TCustomRVData* source);
  void AssignItemList(TCustomRVData* source);
  void UpdateItemsPaletteInfo();

  // ---- Maintenance and search ----
  bool EnumItems(const TRVEnumItemsProc& proc, void* user_data);
  int32_t ComparePositions(int32_t item_no1, TCustomRVData* rvdata2, int32_t item_no2);
  int32_t FindItemFrom(int32_t start_no, const TObject* obj);
  void MarkStylesInUse(TRVDeleteUnusedStylesData& data);
  void UpdateStyles(const TRVDeleteUnusedStylesData& data);
  bool CanMergeItems(int32_t item_no, TCustomRVItemInfo* item1, bool force, TCustomRVItemInfo* item2);
  void MergeItems(int32_t item_no, TCustomRVItemInfo* item2);
  void NormalizeItems(int32_t from_item_no, int32_t to_item_no);
  void NormalizeSubDocuments(int32_t item_no);
  // The previous list marker at or before item_no, across sub-documents and parents; nil.
  TRVMarkerItemInfo* FindPreviousMarker(int32_t item_no);
  // Marker bookkeeping: the marker list is held by the absolute root.
  virtual std::vector<TRVMarkerItemInfo*>* GetMarkers(bool allow_create);
  virtual void DestroyMarkers();
  void AddMarkerInList(int32_t item_no);
  void RemoveMarkerFromList(TCustomRVItemInfo* item, bool clearing);
  // The name the editing code uses: removes a marker (moving to an undo list).
  void DeleteMarkerFromList(TCustomRVItemInfo* item, bool no_recalc) { RemoveMarkerFromList(item, no_recalc); }
  // Renumbering of the markers from item_no on belongs to the marker list; here it makes
  // sure a marker item is in the list.
  void UpdateMarkerCounters(int32_t item_no, bool allow_create) {
    if (allow_create) AddMarkerInList(item_no);
  }
  int32_t FindLastMarkerOfLists(int32_t start_index, const TRVIntegerList& list_nos);
  // Pictures written beside an exported document.
  AnsiString SavePicture(TRVSaveFormat format, const AnsiString& images_prefix, const AnsiString& path,
                         int32_t& image_save_no, bool override_files, TColor color, TGraphic* graphic);
  AnsiString DoSavePicture(TRVSaveFormat format, const AnsiString& images_prefix, const AnsiString& path,
                           int32_t& image_save_no, bool override_files, TColor color, TGraphic* graphic);

  // ---- Formats (CRVData_rvf.cpp, CRVData_rtf.cpp, CRVData_html.cpp) ----
  // Native format: the whole document or the selection; False when an exception occurred.
  bool SaveRVFToStream(TStream& stream, bool selection_only, TRVLayoutInfo* layout, TRVBackground* background,
                       TColor color);
  // Reads records from the stream's position to its end and inserts the items at index (on
  // return the position after the last inserted item). reattach_first with first_para_no:
  // the first inserted item is re-attached to the insertion point. True when every record
  // was complete and nothing failed.
  bool InsertRVFFromStream(TStream& stream, int32_t& index, TRVLayoutInfo* layout, TRVBackground* background,
                           TColor& color, bool editing, bool whole_document, bool reattach_first,
                           int32_t first_para_no);
  bool LoadRVFFromStream(TStream& stream, TColor& color, TRVBackground* background, TRVLayoutInfo* layout);
  // The binary property "Data" of a cell document: a 32-bit length and a native stream.
  void WriteRVFData(TStream& stream);
  void ReadRVFData(TStream& stream);
  // RTF: at level 0 the tables are made here and the arguments are ignored.
  bool SaveRTFToStream(TStream& stream, const AnsiString& path, double twips_factor, TRVRTFFontTable* font_table,
                       TRVIntegerList* font_numbers, TRVIntegerList* override_counts, TRVIntegerList* list_ids,
                       TRVColorList* color_list, int32_t level, TColor background_color, bool selection_only);
  void MakeRTFTables(TRVColorList& color_list, TRVIntegerList* override_counts, bool all_styles);
  bool SaveTextToStream(const AnsiString& path, TStream& stream, int32_t line_width, bool selection_only,
                        bool text_only, bool unicode, bool unicode_write_bom);
  bool SaveHTMLToStream(TStream& stream, const AnsiString& path, const AnsiString& title,
                        const AnsiString& images_prefix, uint32_t options, TColor color, int32_t& image_save_no,
                        int32_t left_margin, int32_t top_margin, int32_t right_margin, int32_t bottom_margin,
                        TRVBackground* background);
  bool SaveHTMLToStreamEx(TStream& stream, const AnsiString& path, const AnsiString& title,
                          const AnsiString& images_prefix, const AnsiString& extra_styles,
                          const AnsiString& external_css, const AnsiString& checkpoint_prefix, uint32_t options,
                          TColor color, TColor& current_file_color, int32_t& image_save_no, int32_t left_margin,
                          int32_t top_margin, int32_t right_margin, int32_t bottom_margin,
                          TRVBackground* background);
  // Code written around paragraphs and list items of HTML (nothing by default).
  virtual void DoHTMLSaveEvent(TCustomRVData* /*rvdata*/, int32_t /*item_no*/, AnsiString& /*text*/,
                               bool /*use_css*/, bool /*opening*/) {}

  // ---- Root settings and owner events (used when no control answers) ----
  void SetRVStyle(TRVStyle* style) { rvstyle_ = style; }
  void SetDelimiters(const AnsiString& value) { delimiters_ = value; }
  void SetMaxLength(int32_t value) { max_length_ = value; }
  void SetBiDiMode(TRVBiDiMode value) { bidi_mode_ = value; }
  void SetRVFTextStylesReadMode(TRVFReaderStyleMode m) { text_read_mode_ = m; }
  void SetRVFParaStylesReadMode(TRVFReaderStyleMode m) { para_read_mode_ = m; }
  std::function<void(TRVItemAction, TCustomRVItemInfo*, AnsiString&, TCustomRVData*)> OnItemAction;
  std::function<void(TRVControlAction, int32_t, TObject*)> OnControlAction;
  std::function<void(int32_t, AnsiString&)> OnURLNeeded;
  std::function<void(TCustomRVData*, int32_t, AnsiString&)> OnItemHint;
  std::function<void(int32_t, int32_t, uint8_t)> OnProgress;
  std::function<TGraphic*(const AnsiString&, const TRVTag&)> OnRVFPictureNeeded;
  std::function<TObject*(const AnsiString&, const TRVTag&)> OnRVFControlNeeded;
  std::function<void(TGraphic*, TRVSaveFormat, const AnsiString&, const AnsiString&, int32_t&, AnsiString&, bool&)>
      OnSaveImage2;
  std::function<bool(const AnsiString&, TObject*, TRVSaveFormat, AnsiString&)> OnSaveComponentToFile;
  std::function<void(int32_t, TObject*, int32_t, int32_t, bool, AnsiString&)> OnSaveRTFExtra;
  std::function<void(int32_t, bool, AnsiString&)> OnSaveHTMLExtra;
  std::function<void(const AnsiString&, const AnsiString&, TRVLoadFormat, int32_t&, TRVTag&, AnsiString&)>
      OnReadHyperlink;
  std::function<void(int32_t, TCustomRVData*, int32_t, TRVSaveFormat, AnsiString&, AnsiString&)> OnWriteHyperlink;
  std::function<void(TCustomRVData*, int32_t, const AnsiString&, TColor, AnsiString&, bool&)> OnHTMLSaveImage;
  std::function<TGraphic*(const AnsiString&, int32_t, int32_t)> OnImportPicture;
  std::function<TObject*(int32_t)> OnRVFImageListNeeded;
  std::function<bool(const AnsiString&, TCustomRVData*, int32_t, TRVSaveFormat, bool, AnsiString&)> OnSaveItemToFile;

 protected:
  // Adds an empty text item that continues a trailing list marker's line.
  void AddEmptyItemAfterMarker();
  void RebuildStylesAfterDelete(TRVDeleteUnusedStylesData& data);
  // The core of AddTextBlockTag.
  bool AddTextBlock(const AnsiString& text, int32_t style_no, int32_t first_para_no, int32_t para_no,
                    const TRVTag& tag, bool convert, bool single_para);
  bool TagsArePChars() { return GetOptions().Contains(rvoTagsArePChars); }
  // For editors that link and unlink checkpoints one at a time.
  void AdjustCPCount(int32_t delta) { cp_count_ += delta; }

 private:
  TStringList* items_ = nullptr;
  std::unique_ptr<TStringList> own_items_;
  bool allow_new_para_ = true;
  TRVCPInfo* first_cp_ = nullptr;
  TRVCPInfo* last_cp_ = nullptr;
  TRVCPInfo* not_added_cp_ = nullptr;
  int32_t cp_count_ = 0;

  // Root settings.
  TRVStyle* rvstyle_ = nullptr;
  TRVOptions options_;
  TRVFOptions rvf_options_;
  TRVRTFOptions rtf_options_;
  uint32_t rvf_warnings_ = 0;
  TRVFReaderStyleMode text_read_mode_ = rvf_sInsertMerge;
  TRVFReaderStyleMode para_read_mode_ = rvf_sInsertMerge;
  uint16_t flags_ = 0;
  int32_t max_length_ = 0;
  TRVBiDiMode bidi_mode_ = rvbdUnspecified;
  AnsiString delimiters_ = " .;,:(){}\"/\\";
  TRVIntegerList text_mapping_, para_mapping_, list_mapping_;
  std::unique_ptr<std::vector<TRVMarkerItemInfo*>> markers_;
};

// The locale of text style style_no's charset in rvdata (language 0 without a style sheet or
// for a negative number).
inline uint32_t RVGetStyleLocale(TCustomRVData* rvdata, int32_t style_no) { return rvdata->RVGetStyleLocale(style_no); }

}  // namespace pelvar
