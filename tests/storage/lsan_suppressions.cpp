// Sanitizer builds only (scripts/test --sanitize): leaks inside the libraries,
// not in this project, that LeakSanitizer would otherwise report at the exit
// of a test process. The sanitizer runtime reads these hooks by name; in other
// builds nothing calls them.
//
// - libsecret 0.20.5 / GIO 2.74: secret_password_clear_sync, when the session
//   bus has no Secret Service, leaves a few small GIO allocations made while
//   its private main loop runs.
//
// GLib is built without frame pointers, so the fast unwinder stops inside it
// and would never reach the libsecret frame that the suppression names: the
// slow unwinder is used for allocations instead.

extern "C" const char* __asan_default_options();
extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __asan_default_options() {
  return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions() {
  return "leak:secret_password_clearv_sync\n";
}
