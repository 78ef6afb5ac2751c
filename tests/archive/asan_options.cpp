// Under AddressSanitizer an allocation sized by damaged archive bytes stops the run
// instead of quietly succeeding on a machine with memory to spare.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __asan_default_options() {
  return "max_allocation_size_mb=512";
}
#endif
