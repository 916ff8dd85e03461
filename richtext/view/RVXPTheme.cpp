#include "richtext/view/RVXPTheme.h"

#include <utility>

namespace pelvar {

namespace {

struct TThemeState {
  TRVThemeBinding binding;
  std::shared_ptr<TRVThemeLibraryLoader> loader;
  ~TThemeState() { Shutdown(); }
  void Shutdown() {
    if (binding.Library && loader) loader->Free(binding.Library);
    binding = TRVThemeBinding();
    loader.reset();
  }
};

TThemeState& State() {
  static TThemeState state;
  return state;
}

template <class F>
void Bind(F& target, TRVThemeLibraryLoader& loader, HTHEMEMODULE library, const char* name) {
  target = reinterpret_cast<F>(loader.GetProc(library, name));
}

// Start-up with this platform's answer: no visual-styles library.
const bool kBoundAtStartup = [] {
  RVXPThemeStartup(TRVPlatformVersion{true, 6, 1}, std::make_shared<TRVNoThemeLibraryLoader>());
  return true;
}();

}  // namespace

const TRVThemeBinding& RVThemeBinding() { return State().binding; }

void RVXPThemeStartup(const TRVPlatformVersion& version, std::shared_ptr<TRVThemeLibraryLoader> loader) {
  TThemeState& st = State();
  st.Shutdown();
  if (!loader) return;
  if (!version.NT || version.Major < 5 || (version.Major == 5 && version.Minor < 1)) return;
  HTHEMEMODULE lib = loader->Load("uxtheme.dll");
  if (!lib) return;
  st.loader = std::move(loader);
  TRVThemeBinding& b = st.binding;
  b.Library = lib;
  TRVThemeLibraryLoader& l = *st.loader;
  Bind(b.IsThemeActive, l, lib, "IsThemeActive");
  Bind(b.IsAppThemed, l, lib, "IsAppThemed");
  Bind(b.OpenThemeData, l, lib, "OpenThemeData");
  Bind(b.CloseThemeData, l, lib, "CloseThemeData");
  Bind(b.DrawThemeParentBackground, l, lib, "DrawThemeParentBackground");
  Bind(b.DrawThemeText, l, lib, "DrawThemeText");
  Bind(b.DrawThemeEdge, l, lib, "DrawThemeEdge");
  Bind(b.DrawThemeBackground, l, lib, "DrawThemeBackground");
  Bind(b.IsThemeBackgroundPartiallyTransparent, l, lib, "IsThemeBackgroundPartiallyTransparent");
}

void RVXPThemeShutdown() { State().Shutdown(); }

}  // namespace pelvar
