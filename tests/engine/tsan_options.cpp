// Under ThreadSanitizer: glibc's dynamic loader, which iconv uses to load its converters
// on the threads that check files, allocates and frees under a lock of its own that the
// sanitizer cannot see; what it reports there is no race of ours.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:ld-linux-x86-64.so.2\n";
}
#endif
