// Linked into the fuzz targets that run under a memory limit. The sanitizer
// fills every allocation, so that the resident size counts what a target
// allocates, touched or not (a 32-bit client runs out of address space, not
// of touched pages); and it keeps a small quarantine of freed memory, so
// that the limit is not spent on memory already given back.
extern "C" const char* __asan_default_options() {
    return "max_malloc_fill_size=2147483647:quarantine_size_mb=16";
}
