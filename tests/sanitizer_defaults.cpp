// Sanitizer settings built into every test binary, so that they hold however a test
// is started (ctest, a debugger, by hand).

// The Firebird client library and its embedded engine (with its ICU), the GUI
// toolkit's glib and the C library's dlerror keep process-wide buffers until the
// process ends, some reachable only from thread-local storage, which the leak
// checker does not scan (see below); they are not ours to free. So does the dynamic
// loader for the libraries the engine loads from its own threads, whose stacks the
// fast unwinder cannot follow past the loader (hence the loader's own frame).
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfbclient\n"
         "leak:libEngine12\n"
         "leak:libicu\n"
         "leak:libglib\n"
         "leak:_dlerror_run\n"
         "leak:_dl_map_object_deps\n";
}

extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1"; }

// The embedded engine's threads can leave stale dynamic thread-local entries behind
// that crash the leak checker's tracer at exit; scanning thread-local storage is
// what reads them.
extern "C" const char* __lsan_default_options() { return "use_tls=0:print_suppressions=0"; }
