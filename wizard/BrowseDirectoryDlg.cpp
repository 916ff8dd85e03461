#include "wizard/BrowseDirectoryDlg.h"

#include <utility>

namespace pelvar {

namespace {

TFolderChooser& Chooser() {
  static TFolderChooser chooser;
  return chooser;
}

bool IsDelimiter(char c) { return c == '/' || c == '\\'; }

// "/" and "C:\" stay as they are; any other path loses its trailing delimiters.
AnsiString NormalizeFolder(AnsiString path) {
  while (path.size() > 1 && IsDelimiter(path.back())) {
    if (path.size() == 3 && path[1] == ':') break;
    path.pop_back();
  }
  return path;
}

}  // namespace

TFolderChooser SetFolderChooser(TFolderChooser chooser) {
  return std::exchange(Chooser(), std::move(chooser));
}

TdfsBrowseDirectoryDlg::TdfsBrowseDirectoryDlg(TComponent* owner) : TComponent(owner) {}

bool TdfsBrowseDirectoryDlg::Execute() {
  AnsiString chosen;
  const TFolderChooser& chooser = Chooser();
  TFolderBrowseRequest request = request_;
  if (OnSelChanged)
    request.SelChanged = [this](const AnsiString& folder) {
      if (OnSelChanged) OnSelChanged(this, folder);
    };
  if (chooser && chooser(request, chosen) && !chosen.empty()) {
    request_.Selection = NormalizeFolder(chosen);
    return true;
  }
  request_.Selection.clear();
  return false;
}

}  // namespace pelvar
