// Form placement: keeps a form's window placement in an INI file or in the registry,
// restored when the form is shown and saved when it closes, with events through which
// the form loads and stores its own values in the same place.
//
// Placement values in the section (integers unless noted): "Flags", "ShowCmd",
// "PixelsPerInch", "MinMaxPos" and "NormPos" (text "left,top,right,bottom"), the last two
// written twice, under the plain name and under the name with the screen size appended
// ("NormPos(1024x768)"); "ActiveControl" (text, with the option fpActiveControl) and
// "Visible" (Boolean).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/classes.h"
#include "platform/inifiles.h"
#include "platform/registry.h"
#include "platform/types.h"
#include "wizard/FormModel.h"

namespace pelvar {

// Reading and writing either store. ini_file is a TIniFile or a TRegIniFile; anything
// else raises EInvalidOperation "Invalid ini-file class!".
AnsiString IniReadString(TObject* ini_file, const AnsiString& section, const AnsiString& ident,
                         const AnsiString& def);
void IniWriteString(TObject* ini_file, const AnsiString& section, const AnsiString& ident,
                    const AnsiString& value);
int32_t IniReadInteger(TObject* ini_file, const AnsiString& section, const AnsiString& ident,
                       int32_t def);
void IniWriteInteger(TObject* ini_file, const AnsiString& section, const AnsiString& ident,
                     int32_t value);
// The name with the current screen size appended: "NormPos(1024x768)".
AnsiString ScreenSizedName(const AnsiString& ident);
// Reads the value under its screen-size name, else under its plain name, else def.
AnsiString IniReadScreenString(TObject* ini_file, const AnsiString& section,
                               const AnsiString& ident, const AnsiString& def);
// Writes the value under both names.
void IniWriteScreenString(TObject* ini_file, const AnsiString& section,
                          const AnsiString& ident, const AnsiString& value);

enum TPlacementOption { fpState, fpPosition, fpActiveControl };
using TPlacementOptions = TEnumSet<TPlacementOption>;

// Track and maximised sizes the form keeps to; every 0 means "none".
struct TWinMinMaxInfo {
  int32_t MaxPosLeft = 0;
  int32_t MaxPosTop = 0;
  int32_t MaxSizeWidth = 0;
  int32_t MaxSizeHeight = 0;
  int32_t MaxTrackWidth = 0;
  int32_t MaxTrackHeight = 0;
  int32_t MinTrackWidth = 0;
  int32_t MinTrackHeight = 0;
  bool DefaultMinMaxInfo() const;
};

// Owned by the form it places (a TFormModel). Loaded() takes over the form's OnShow,
// OnCloseQuery and OnDestroy (calling the previous handlers from its own) and hooks the
// form's message procedure:
//   OnShow: when Active, restore the placement, then the previous OnShow;
//   OnCloseQuery: the previous handler first; when the form may close, the placement is
//     Active and the application is not terminating, save;
//   OnDestroy: when Active, not saved yet and the application is not terminating, save
//     (with the form marked not visible); then the previous OnDestroy.
// A failure while saving or restoring goes to the application's exception handler and
// does not stop the show or the close.
class TFormPlacement : public TComponent {
 public:
  explicit TFormPlacement(TComponent* owner);
  ~TFormPlacement() override;

  bool Active() const { return active_; }
  void SetActive(bool v) { active_ = v; }
  // The set value; when empty, the executable's name with ".INI" (INI store) or
  // "Software\" + the application's title (else the executable's name) for the registry.
  AnsiString IniFileName() const;
  void SetIniFileName(const AnsiString& v) { ini_file_name_ = v; }
  // The set value; when empty, the owner form's class name.
  AnsiString IniSection() const;
  void SetIniSection(const AnsiString& v) { ini_section_ = v; }
  const TWinMinMaxInfo& MinMaxInfo() const { return min_max_info_; }
  void SetMinMaxInfo(const TWinMinMaxInfo& v) { min_max_info_ = v; }
  TPlacementOptions Options() const { return options_; }
  void SetOptions(TPlacementOptions v) { options_ = v; }
  bool PreventResize() const { return prevent_resize_; }
  void SetPreventResize(bool v) { prevent_resize_ = v; }
  bool UseRegistry() const { return use_registry_; }
  void SetUseRegistry(bool v) { use_registry_ = v; }

  // Run after the placement values were written / read, with the store open.
  TNotifyEvent OnSavePlacement;
  TNotifyEvent OnRestorePlacement;

  // Open the store for the one operation, write (read and apply) the values, run the
  // event, close the store.
  virtual void SaveFormPlacement();
  virtual void RestoreFormPlacement();

  // The open store during the events: a TIniFile or a TRegIniFile (nullptr otherwise).
  TObject* IniFileObject() const { return ini_object_; }
  TIniFile* IniFile() const;
  TRegIniFile* RegIniFile() const;

  bool Saved() const { return saved_; }
  bool Restored() const { return restored_; }
  // The form placed: the owner when it is a TFormModel.
  TFormModel* Form() const;

  void Loaded() override;

 protected:
  // Writes and reads the placement values of the section (the store is open).
  virtual void SavePlacementValues();
  virtual void RestorePlacementValues();
  // The message hook on the form, after the form's own handling: the track sizes
  // (PreventResize or MinMaxInfo) and inert sizing borders with PreventResize.
  virtual void AfterWndMessage(TMessage& msg);

 private:
  void OpenStore();
  void CloseStore();
  void FormShow(TObject* sender);
  void FormCloseQuery(TObject* sender, bool& can_close);
  void FormDestroy(TObject* sender);

  bool active_ = true;
  AnsiString ini_file_name_;
  AnsiString ini_section_;
  TWinMinMaxInfo min_max_info_;
  TPlacementOptions options_;
  bool prevent_resize_ = false;
  bool use_registry_ = false;

  std::unique_ptr<TObject> store_;
  TObject* ini_object_ = nullptr;
  TWindowHook* hook_ = nullptr;  // owned (component)
  bool events_set_ = false;
  bool saved_ = false;
  bool restored_ = false;
  bool destroying_ = false;
  TNotifyEvent save_show_;
  TCloseQueryEvent save_close_query_;
  TNotifyEvent save_destroy_;
};

// Placement plus a list of stored properties: lines "Component.Property", each bound to
// its component when loaded and dropped when that component goes away. Property values
// themselves are not stored: the components of this program publish no properties by
// reflection, and the wizard's list is empty.
class TFormStorage : public TFormPlacement {
 public:
  explicit TFormStorage(TComponent* owner);
  ~TFormStorage() override;

  TStrings* StoredProps() const { return stored_props_.get(); }
  void SetStoredProps(TStrings* value);

  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void BindStoredProps();
  std::unique_ptr<TStringList> stored_props_;
};

}  // namespace pelvar
