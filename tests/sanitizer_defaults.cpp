// Sanitizer settings built into every test binary, so that they hold however a test
// is started (ctest, a debugger, by hand).

// The Firebird client library and its embedded engine (with its ICU) keep
// process-wide caches until the process ends; they are not ours to free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfbclient\n"
         "leak:libEngine12\n"
         "leak:libicu\n";
}

extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1"; }
