// LeakSanitizer settings for the tests that load the sound libraries (the
// device, capture, engine and dialog tests), read by the sanitizer runtime at
// start-up (unused in other builds). PortAudio's ALSA host API loads ALSA
// plugins that keep allocations for the life of the process and are unloaded
// before the leak check; with the full stack unwound at each allocation,
// those are attributed to the sound libraries rather than to an unknown module.
extern "C" {

const char* __lsan_default_options() {
    return "fast_unwind_on_malloc=0";
}

const char* __lsan_default_suppressions() {
    return "leak:libasound\n"
           "leak:libpulse\n"
           "leak:libportaudio\n";
}
}
