#include "wizard/FormPlacement.h"

#include "platform/application.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "wizard/ShellUtils.h"

namespace pelvar {

namespace {

const char* const kInvalidIniClass = "Invalid ini-file class!";

// Window states of the stored "ShowCmd".
constexpr int32_t SW_HIDE = 0;
constexpr int32_t SW_SHOWNORMAL = 1;
constexpr int32_t SW_SHOWMINIMIZED = 2;
constexpr int32_t SW_SHOWMAXIMIZED = 3;
constexpr int32_t SW_MINIMIZE = 6;
constexpr int32_t SW_SHOWMINNOACTIVE = 7;
constexpr int32_t SW_SHOW = 5;
constexpr int32_t SW_RESTORE = 9;

AnsiString RectToStr(const TRect& r) {
  return Format("%d,%d,%d,%d", {r.Left, r.Top, r.Right, r.Bottom});
}

// "left,top,right,bottom"; false for anything else.
bool StrToRect(const AnsiString& s, TRect& r) {
  int32_t v[4];
  for (int i = 0; i < 4; ++i) {
    if (!TryStrToInt(Trim(GetToken(s, ",", i + 1)), v[i])) return false;
  }
  if (!GetToken(s, ",", 5).empty()) return false;
  r = TRect{v[0], v[1], v[2], v[3]};
  return true;
}

}  // namespace

// --- Either store -----------------------------------------------------------------

AnsiString IniReadString(TObject* ini_file, const AnsiString& section, const AnsiString& ident,
                         const AnsiString& def) {
  if (auto* ini = dynamic_cast<TIniFile*>(ini_file)) return ini->ReadString(section, ident, def);
  if (auto* reg = dynamic_cast<TRegIniFile*>(ini_file)) return reg->ReadString(section, ident, def);
  throw EInvalidOperation(kInvalidIniClass);
}

void IniWriteString(TObject* ini_file, const AnsiString& section, const AnsiString& ident,
                    const AnsiString& value) {
  if (auto* ini = dynamic_cast<TIniFile*>(ini_file)) return ini->WriteString(section, ident, value);
  if (auto* reg = dynamic_cast<TRegIniFile*>(ini_file))
    return reg->WriteString(section, ident, value);
  throw EInvalidOperation(kInvalidIniClass);
}

int32_t IniReadInteger(TObject* ini_file, const AnsiString& section, const AnsiString& ident,
                       int32_t def) {
  if (auto* ini = dynamic_cast<TIniFile*>(ini_file)) return ini->ReadInteger(section, ident, def);
  if (auto* reg = dynamic_cast<TRegIniFile*>(ini_file))
    return reg->ReadInteger(section, ident, def);
  throw EInvalidOperation(kInvalidIniClass);
}

void IniWriteInteger(TObject* ini_file, const AnsiString& section, const AnsiString& ident,
                     int32_t value) {
  if (auto* ini = dynamic_cast<TIniFile*>(ini_file))
    return ini->WriteInteger(section, ident, value);
  if (auto* reg = dynamic_cast<TRegIniFile*>(ini_file))
    return reg->WriteInteger(section, ident, value);
  throw EInvalidOperation(kInvalidIniClass);
}

AnsiString ScreenSizedName(const AnsiString& ident) {
  const TScreenMetrics& screen = FormScreen();
  return Format("%s(%dx%d)", {ident, screen.Width, screen.Height});
}

AnsiString IniReadScreenString(TObject* ini_file, const AnsiString& section,
                               const AnsiString& ident, const AnsiString& def) {
  return IniReadString(ini_file, section, ScreenSizedName(ident),
                       IniReadString(ini_file, section, ident, def));
}

void IniWriteScreenString(TObject* ini_file, const AnsiString& section,
                          const AnsiString& ident, const AnsiString& value) {
  IniWriteString(ini_file, section, ScreenSizedName(ident), value);
  IniWriteString(ini_file, section, ident, value);
}

bool TWinMinMaxInfo::DefaultMinMaxInfo() const {
  return MaxPosLeft == 0 && MaxPosTop == 0 && MaxSizeWidth == 0 && MaxSizeHeight == 0 &&
         MaxTrackWidth == 0 && MaxTrackHeight == 0 && MinTrackWidth == 0 && MinTrackHeight == 0;
}

// --- TFormPlacement ---------------------------------------------------------------

TFormPlacement::TFormPlacement(TComponent* owner) : TComponent(owner) {
  if (dynamic_cast<TFormModel*>(owner)) options_ = TPlacementOptions{fpState, fpPosition};
  hook_ = new TWindowHook(this);
  hook_->SetActive(false);
  hook_->AfterMessage = [this](TObject*, TMessage& msg, bool&) { AfterWndMessage(msg); };
}

TFormPlacement::~TFormPlacement() {
  TFormModel* form = Form();
  if (events_set_ && form && !form->ComponentState().Contains(csDestroying)) {
    form->OnShow = save_show_;
    form->OnCloseQuery = save_close_query_;
    form->OnDestroy = save_destroy_;
  }
  if (hook_) hook_->SetActive(false);
}

TFormModel* TFormPlacement::Form() const { return dynamic_cast<TFormModel*>(Owner()); }

AnsiString TFormPlacement::IniFileName() const {
  if (!ini_file_name_.empty()) return ini_file_name_;
  const AnsiString exe = Application()->ExeName();
  if (use_registry_) {
    const AnsiString title = Application()->Title();
    return "Software\\" + (title.empty() ? ChangeFileExt(ExtractFileName(exe), "") : title);
  }
  return ChangeFileExt(exe, ".INI");
}

AnsiString TFormPlacement::IniSection() const {
  if (!ini_section_.empty()) return ini_section_;
  return Owner() ? Owner()->ClassName() : AnsiString();
}

TIniFile* TFormPlacement::IniFile() const { return dynamic_cast<TIniFile*>(ini_object_); }

TRegIniFile* TFormPlacement::RegIniFile() const { return dynamic_cast<TRegIniFile*>(ini_object_); }

void TFormPlacement::Loaded() {
  TComponent::Loaded();
  TFormModel* form = Form();
  if (!form || ComponentState().Contains(csDesigning) || events_set_) return;
  save_show_ = form->OnShow;
  save_close_query_ = form->OnCloseQuery;
  save_destroy_ = form->OnDestroy;
  form->OnShow = [this](TObject* sender) { FormShow(sender); };
  form->OnCloseQuery = [this](TObject* sender, bool& can_close) {
    FormCloseQuery(sender, can_close);
  };
  form->OnDestroy = [this](TObject* sender) { FormDestroy(sender); };
  events_set_ = true;
  hook_->SetWinControl(form);
  hook_->SetActive(true);
}

void TFormPlacement::FormShow(TObject* sender) {
  if (active_) {
    try {
      RestoreFormPlacement();
    } catch (...) {
      Application()->HandleException(this);
    }
  }
  if (save_show_) save_show_(sender);
}

void TFormPlacement::FormCloseQuery(TObject* sender, bool& can_close) {
  if (save_close_query_) save_close_query_(sender, can_close);
  if (can_close && active_ && Form() && !Application()->Terminated()) {
    try {
      SaveFormPlacement();
    } catch (...) {
      Application()->HandleException(this);
    }
  }
}

void TFormPlacement::FormDestroy(TObject* sender) {
  if (active_ && !saved_ && !Application()->Terminated()) {
    destroying_ = true;
    try {
      SaveFormPlacement();
    } catch (...) {
      Application()->HandleException(this);
    }
    destroying_ = false;
  }
  if (save_destroy_) save_destroy_(sender);
}

void TFormPlacement::OpenStore() {
  if (use_registry_) {
    store_ = std::make_unique<TRegIniFile>(IniFileName());
  } else {
    store_ = std::make_unique<TIniFile>(IniFileName());
  }
  ini_object_ = store_.get();
}

void TFormPlacement::CloseStore() {
  ini_object_ = nullptr;
  store_.reset();
}

void TFormPlacement::SaveFormPlacement() {
  OpenStore();
  try {
    SavePlacementValues();
    if (OnSavePlacement) OnSavePlacement(this);
  } catch (...) {
    CloseStore();
    throw;
  }
  CloseStore();
  saved_ = true;
}

void TFormPlacement::RestoreFormPlacement() {
  OpenStore();
  try {
    RestorePlacementValues();
    restored_ = true;
    saved_ = false;
    if (OnRestorePlacement) OnRestorePlacement(this);
  } catch (...) {
    CloseStore();
    throw;
  }
  CloseStore();
}

void TFormPlacement::SavePlacementValues() {
  TFormModel* form = Form();
  if (!form) return;
  const AnsiString section = IniSection();
  int32_t show_cmd = SW_SHOWNORMAL;
  if (form->WindowState() == wsMinimized) show_cmd = SW_SHOWMINIMIZED;
  if (form->WindowState() == wsMaximized) show_cmd = SW_SHOWMAXIMIZED;
  IniWriteInteger(ini_object_, section, "Flags", 0);
  IniWriteInteger(ini_object_, section, "ShowCmd", show_cmd);
  IniWriteInteger(ini_object_, section, "PixelsPerInch", FormScreen().PixelsPerInch);
  // The model keeps no separate minimised and maximised positions: "none" (-1).
  IniWriteScreenString(ini_object_, section, "MinMaxPos", "-1,-1,-1,-1");
  IniWriteScreenString(ini_object_, section, "NormPos", RectToStr(form->BoundsRect()));
  if (options_.Contains(fpActiveControl)) {
    IniWriteString(ini_object_, section, "ActiveControl", form->ActiveControl());
  }
  IniWriteInteger(ini_object_, section, "Visible", form->Visible() && !destroying_ ? 1 : 0);
}

void TFormPlacement::RestorePlacementValues() {
  TFormModel* form = Form();
  if (!form) return;
  const AnsiString section = IniSection();
  const TScreenMetrics& screen = FormScreen();
  IniReadInteger(ini_object_, section, "Flags", 0);
  // Positions saved at another resolution do not fit this screen.
  if (IniReadInteger(ini_object_, section, "PixelsPerInch", screen.PixelsPerInch) !=
      screen.PixelsPerInch) {
    return;
  }
  if (options_.Contains(fpPosition)) {
    TRect r;
    if (StrToRect(IniReadScreenString(ini_object_, section, "NormPos", ""), r)) {
      if (form->Position() != poDesigned && form->Position() != poDefaultSizeOnly) {
        form->SetPosition(poDesigned);
      }
      if (form->Sizeable()) {
        form->SetBoundsRect(r);
      } else {
        form->SetBounds(r.Left, r.Top, form->Width(), form->Height());
      }
    }
  }
  if (options_.Contains(fpState)) {
    switch (IniReadInteger(ini_object_, section, "ShowCmd", SW_HIDE)) {
      case SW_SHOWNORMAL:
      case SW_SHOW:
      case SW_RESTORE:
        form->SetWindowState(wsNormal);
        break;
      case SW_SHOWMINIMIZED:
      case SW_MINIMIZE:
      case SW_SHOWMINNOACTIVE:
        form->SetWindowState(wsMinimized);
        break;
      case SW_SHOWMAXIMIZED:
        form->SetWindowState(wsMaximized);
        break;
      default:
        break;
    }
  }
  if (options_.Contains(fpActiveControl)) {
    const AnsiString name = IniReadString(ini_object_, section, "ActiveControl", "");
    if (!name.empty() && form->FindComponent(name)) form->SetActiveControl(name);
  }
}

void TFormPlacement::AfterWndMessage(TMessage& msg) {
  switch (msg.Msg) {
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<TMinMaxInfo*>(msg.LParam);
      TFormModel* form = Form();
      if (prevent_resize_ && form) {
        info->ptMinTrackSize = {form->Width(), form->Height()};
        info->ptMaxTrackSize = {form->Width(), form->Height()};
        msg.Result = 1;
        break;
      }
      if (min_max_info_.DefaultMinMaxInfo()) break;
      const TWinMinMaxInfo& m = min_max_info_;
      if (m.MinTrackWidth != 0) info->ptMinTrackSize.X = m.MinTrackWidth;
      if (m.MinTrackHeight != 0) info->ptMinTrackSize.Y = m.MinTrackHeight;
      if (m.MaxTrackWidth != 0) info->ptMaxTrackSize.X = m.MaxTrackWidth;
      if (m.MaxTrackHeight != 0) info->ptMaxTrackSize.Y = m.MaxTrackHeight;
      if (m.MaxSizeWidth != 0) info->ptMaxSize.X = m.MaxSizeWidth;
      if (m.MaxSizeHeight != 0) info->ptMaxSize.Y = m.MaxSizeHeight;
      if (m.MaxPosLeft != 0) info->ptMaxPosition.X = m.MaxPosLeft;
      if (m.MaxPosTop != 0) info->ptMaxPosition.Y = m.MaxPosTop;
      msg.Result = 1;
      break;
    }
    case WM_NCHITTEST:
      // With the size fixed, the sizing borders are inert.
      if (prevent_resize_ && msg.Result >= HTLEFT && msg.Result <= HTBOTTOMRIGHT) {
        msg.Result = HTNOWHERE;
      }
      break;
    default:
      break;
  }
}

// --- TFormStorage -----------------------------------------------------------------

TFormStorage::TFormStorage(TComponent* owner)
    : TFormPlacement(owner), stored_props_(std::make_unique<TStringList>()) {}

TFormStorage::~TFormStorage() = default;

void TFormStorage::SetStoredProps(TStrings* value) {
  stored_props_->Assign(value);
  if (!ComponentState().Contains(csLoading)) BindStoredProps();
}

void TFormStorage::Loaded() {
  TFormPlacement::Loaded();
  BindStoredProps();
}

void TFormStorage::BindStoredProps() {
  for (int32_t i = stored_props_->Count() - 1; i >= 0; --i) {
    const AnsiString line = stored_props_->Strings(i);
    const size_t dot = line.find('.');
    TComponent* component = nullptr;
    if (dot != AnsiString::npos && Owner()) {
      component = Owner()->FindComponent(line.substr(0, dot));
    }
    if (component) {
      stored_props_->SetObjects(i, component);
    } else {
      stored_props_->Delete(i);
    }
  }
}

void TFormStorage::Notification(TComponent* component, TOperation operation) {
  TFormPlacement::Notification(component, operation);
  if (operation != opRemove || !stored_props_) return;
  for (int32_t i = stored_props_->Count() - 1; i >= 0; --i) {
    if (stored_props_->Objects(i) == component) stored_props_->Delete(i);
  }
}

}  // namespace pelvar
