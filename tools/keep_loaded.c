/* Preloaded for the sanitizer run only: libraries are never unloaded, so that
   LeakSanitizer can name the library behind every allocation still held at exit
   (graphics drivers are unloaded before it looks) and the suppressions apply. */
int dlclose(void *handle) {
    (void)handle;
    return 0;
}
