// The folder-browser dialog component. Execute hands the request to the installed folder
// chooser (the Qt view installs one; headless, none is installed and the dialog answers
// "cancelled").
#pragma once

#include <functional>

#include "platform/classes.h"
#include "platform/types.h"

namespace pelvar {

enum TBrowseFlag {
  bfDirectoriesOnly,
  bfDomainOnly,
  bfAncestors,
  bfEditBox,
  bfValidate,
  bfNewDialogStyle,
  bfIncludeUrls,
  bfComputers,
  bfPrinters,
  bfIncludeFiles,
  bfShareable
};
using TBrowseFlags = TEnumSet<TBrowseFlag>;

// What the chooser is asked to show.
struct TFolderBrowseRequest {
  AnsiString Caption;
  AnsiString Title;
  AnsiString Root;       // empty: the desktop (the user's home directory)
  AnsiString Selection;  // selected when the chooser opens
  AnsiString StatusText;
  TBrowseFlags Options;
  bool ShowSelectionInStatus = false;
  bool FitStatusText = true;
  bool EnableOKButton = true;
  bool Center = true;
  // Told of every folder the user moves the selection to while the chooser is open.
  std::function<void(const AnsiString& folder)> SelChanged;
};

// Shows the chooser; true with the chosen folder in `chosen`, false when cancelled.
using TFolderChooser = std::function<bool(const TFolderBrowseRequest& request, AnsiString& chosen)>;
// Installs a chooser (empty: none) and returns the previous one.
TFolderChooser SetFolderChooser(TFolderChooser chooser);

class TdfsBrowseDirectoryDlg : public TComponent {
 public:
  using TSelChangedEvent = std::function<void(TObject* sender, const AnsiString& new_sel)>;

  explicit TdfsBrowseDirectoryDlg(TComponent* owner);

  const AnsiString& Title() const { return request_.Title; }
  void SetTitle(const AnsiString& v) { request_.Title = v; }
  const AnsiString& Root() const { return request_.Root; }
  void SetRoot(const AnsiString& v) { request_.Root = v; }
  TBrowseFlags Options() const { return request_.Options; }
  void SetOptions(TBrowseFlags v) { request_.Options = v; }
  const AnsiString& Selection() const { return request_.Selection; }
  void SetSelection(const AnsiString& v) { request_.Selection = v; }
  const AnsiString& StatusText() const { return request_.StatusText; }
  void SetStatusText(const AnsiString& v) { request_.StatusText = v; }
  bool FitStatusText() const { return request_.FitStatusText; }
  void SetFitStatusText(bool v) { request_.FitStatusText = v; }
  bool ShowSelectionInStatus() const { return request_.ShowSelectionInStatus; }
  void SetShowSelectionInStatus(bool v) { request_.ShowSelectionInStatus = v; }
  bool EnableOKButton() const { return request_.EnableOKButton; }
  void SetEnableOKButton(bool v) { request_.EnableOKButton = v; }
  bool Center() const { return request_.Center; }
  void SetCenter(bool v) { request_.Center = v; }
  int32_t ImageIndex() const { return image_index_; }
  void SetImageIndex(int32_t v) { image_index_ = v; }
  const AnsiString& Caption() const { return request_.Caption; }
  void SetCaption(const AnsiString& v) { request_.Caption = v; }

  TSelChangedEvent OnSelChanged;

  // Shows the chooser. On OK, Selection holds the chosen folder (a root keeps its
  // trailing delimiter, other paths lose it) and the result is true; otherwise
  // Selection is cleared and the result is false.
  bool Execute();

 private:
  TFolderBrowseRequest request_;
  int32_t image_index_ = -1;
};

}  // namespace pelvar
