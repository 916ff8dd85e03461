// The binding of the platform's optional visual-styles (theme) library: nine entry
// points looked up by name at start-up, each empty when not bound. A caller tests a
// pointer before calling through it; the scroller draws an unthemed frame otherwise.
//
// Linux has no such library: the default loader answers "not available", so every
// pointer stays empty. A loader can be handed in (tests, or a host that provides one).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/canvas.h"
#include "platform/graphics.h"
#include "platform/types.h"

namespace pelvar {

using HTHEME = void*;
using HTHEMEMODULE = void*;
using HWNDHANDLE = void*;

using TIsThemeActive = bool (*)();
using TIsAppThemed = bool (*)();
using TOpenThemeData = HTHEME (*)(HWNDHANDLE wnd, const char16_t* class_list);
using TCloseThemeData = int32_t (*)(HTHEME theme);
using TDrawThemeParentBackground = int32_t (*)(HWNDHANDLE wnd, TCanvas* canvas, const TRect* rect);
using TDrawThemeText = int32_t (*)(HTHEME theme, TCanvas* canvas, int32_t part, int32_t state, const char16_t* text,
                                   int32_t count, uint32_t flags, uint32_t flags2, const TRect* rect);
using TDrawThemeEdge = int32_t (*)(HTHEME theme, TCanvas* canvas, int32_t part, int32_t state, const TRect* dest,
                                   uint32_t edge, uint32_t flags, TRect* content);
using TDrawThemeBackground = int32_t (*)(HTHEME theme, TCanvas* canvas, int32_t part, int32_t state,
                                         const TRect* rect, const TRect* clip);
using TIsThemeBackgroundPartiallyTransparent = bool (*)(HTHEME theme, int32_t part, int32_t state);

// The library handle and the nine entry points; all empty when not bound.
struct TRVThemeBinding {
  HTHEMEMODULE Library = nullptr;
  TIsThemeActive IsThemeActive = nullptr;
  TIsAppThemed IsAppThemed = nullptr;
  TOpenThemeData OpenThemeData = nullptr;
  TCloseThemeData CloseThemeData = nullptr;
  TDrawThemeParentBackground DrawThemeParentBackground = nullptr;
  TDrawThemeText DrawThemeText = nullptr;
  TDrawThemeEdge DrawThemeEdge = nullptr;
  TDrawThemeBackground DrawThemeBackground = nullptr;
  TIsThemeBackgroundPartiallyTransparent IsThemeBackgroundPartiallyTransparent = nullptr;
};

// The platform's version as the binding asks for it.
struct TRVPlatformVersion {
  bool NT = true;
  uint32_t Major = 0;
  uint32_t Minor = 0;
};

// Loads the visual-styles library and finds its entry points.
class TRVThemeLibraryLoader {
 public:
  virtual ~TRVThemeLibraryLoader() = default;
  // nullptr: not available.
  virtual HTHEMEMODULE Load(const AnsiString& name) = 0;
  virtual void* GetProc(HTHEMEMODULE library, const char* name) = 0;
  virtual void Free(HTHEMEMODULE library) = 0;
};

// This platform's loader: there is no visual-styles library, every load fails.
class TRVNoThemeLibraryLoader : public TRVThemeLibraryLoader {
 public:
  HTHEMEMODULE Load(const AnsiString&) override { return nullptr; }
  void* GetProc(HTHEMEMODULE, const char*) override { return nullptr; }
  void Free(HTHEMEMODULE) override {}
};

// The program-wide binding (read-only between start-up and shut-down).
const TRVThemeBinding& RVThemeBinding();

// Start-up: binds "uxtheme.dll" through the loader when the platform is of the NT family
// at version 5.1 or later; an entry point the library lacks stays empty. Runs at program
// start with this platform's loader; calling it again first shuts the old binding down.
void RVXPThemeStartup(const TRVPlatformVersion& version, std::shared_ptr<TRVThemeLibraryLoader> loader);
// Shut-down: unloads the library when it was loaded; every pointer becomes empty.
void RVXPThemeShutdown();

}  // namespace pelvar
