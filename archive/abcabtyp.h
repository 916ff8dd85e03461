// Cabinet archives over the kit's cabinet library (archive/abcablib.h): the list of a
// cabinet's files, extraction of a file (also from a set of cabinets), and a new
// cabinet, or a set of them split at the spanning threshold, built file by file.
// Reading binds its library on first use; where it cannot be loaded, loading or
// detecting a cabinet raises EAbNoCabinetDll. A cabinet archive has no archive stream.
//
// Names: an item's FileName is the ANSI (Windows-1250) form; the cabinet holds the
// OEM (852) form, or UTF-8 when the file's name-is-UTF attribute is set.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "archive/abarctyp.h"
#include "archive/abcablib.h"
#include "platform/streams.h"

namespace pelvar {

constexpr int32_t AbCabTypeOf = 7;

// The compression of new files: none, MSZIP or LZX (with a window of 2^18 bytes).
enum TAbCabCompressionType : uint8_t { ctNone = 0, ctMSZIP = 1, ctLZX = 2 };

// Binds the cabinet library; raises EAbNoCabinetDll ("Cannot load cabinet.dll")
// when it cannot be loaded.
void AbBindCabinetLibrary();

class TAbCabItem : public TAbArchiveItem {
 public:
  // The file continues from or into another cabinet.
  bool PartialFile() const { return partial_file_; }
  void SetPartialFile(bool Value) { partial_file_ = Value; }

 private:
  bool partial_file_ = false;
};

class TAbCabArchive : public TAbArchive {
 public:
  // A Mode that creates (0xFFFF, fmCreate) or writes makes a cabinet for writing;
  // any other opens one for reading.
  TAbCabArchive(const AnsiString& FileName, uint16_t Mode);
  // Releases the library's contexts; files added since the last save are written.
  // A save writes every file added so far: one cabinet, or a set of cabinets none
  // larger than the spanning threshold (when above 0), the next ones named by
  // OnRequestImage or, without it, by AbSpanVolumeName (name.c01, name.c02, ...).
  ~TAbCabArchive() override;

  std::unique_ptr<TAbArchiveItem> CreateItem(const AnsiString& FileName) override;
  // Extracts to UseName (or the item's name when empty) under BaseDirectory with
  // the extract options; a failure of the library is reported as an item failure
  // (ptExtract, ecCabError) and leaves no partial file.
  void ExtractItemAt(int32_t Index, const AnsiString& UseName) override;
  // The item's bytes go to Stream; a failure of the library raises EAbFDICopyError.
  void ExtractItemToStreamAt(int32_t Index, TStream& Stream) override;
  // Reads the item through, block checksums included; a failure raises EAbFDICopyError.
  void TestItemAt(int32_t Index) override;
  void Add(std::unique_ptr<TAbArchiveItem> Item) override;
  void SetSpanningThreshold(int32_t Value) override;
  virtual void DoConfirmOverwrite(AnsiString& Name, bool& Confirm);

  TAbCabItem* CabItems(int32_t Index) const { return static_cast<TAbCabItem*>(Items(Index)); }
  bool CreatedForWriting() const { return open_mode_ == 1; }
  TAbCabCompressionType CompressionType() const { return compression_type_; }
  void SetCompressionType(TAbCabCompressionType Value) { compression_type_ = Value; }
  int32_t FolderThreshold() const { return folder_threshold_; }
  void SetFolderThreshold(int32_t Value) { folder_threshold_ = Value; }
  // The cabinet information of a loaded cabinet.
  int32_t CabSize() const { return cab_info_.cbCabinet; }
  int32_t FolderCount() const { return cab_info_.cFolders; }
  int32_t SetID() const { return set_id_; }
  int32_t CurrentCab() const { return current_cab_; }
  bool HasPrev() const { return cab_info_.hasprev; }
  bool HasNext() const { return cab_info_.hasnext; }
  const AnsiString& NextCabinet() const { return next_cabinet_; }
  const AnsiString& NextDisk() const { return next_disk_; }

 protected:
  void LoadArchive() override;
  void SaveArchive() override;

 private:
  void CreateCompressor();
  void CreateDecompressor();
  void ReleaseContexts();
  // Takes the item out of the cabinet into Sink (nullptr: dropped); false on failure.
  bool CopyItemTo(TAbArchiveItem* Item, TStream* Sink);
  // The library's value of a compression type.
  uint16_t LibraryCompression() const;
  // The ANSI form of a name as the cabinet holds it.
  static AnsiString NameFromCabinet(const AnsiString& Raw, uint16_t Attributes);

  AnsiString cab_name_;
  AnsiString cab_path_;
  CCAB fci_params_;
  HFCI fci_ = nullptr;
  HFDI fdi_ = nullptr;
  ERF erf_;
  FDICABINETINFO cab_info_;
  uint32_t item_progress_ = 0;
  TAbCabCompressionType compression_type_ = ctMSZIP;
  int32_t folder_threshold_ = 0;
  uint8_t open_mode_ = 0;
  int32_t set_id_ = 0;
  int32_t current_cab_ = 0;
  AnsiString next_cabinet_;
  AnsiString next_disk_;
  // Files were added since the last save.
  bool unsaved_ = false;
  bool written_ = false;
  // The file an extraction writes to.
  TStream* extract_out_ = nullptr;
  // Bytes taken out are counted and dropped (testing).
  bool discard_ = false;
};

// The type test of the detection: 7 when the file loads as a cabinet, 0 when the
// library's decompressor cannot be made; other failures (EAbNoCabinetDll,
// EAbInvalidCabFile, ...) propagate.
int32_t AbCabKindOf(const AnsiString& FileName);

}  // namespace pelvar
