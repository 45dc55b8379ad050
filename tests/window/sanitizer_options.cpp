// Leak-report exceptions for the window on a real display: the session bus
// library that Qt's X11 platform opens keeps a buffer for the life of the
// process, which is not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
