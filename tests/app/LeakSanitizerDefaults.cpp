// LeakSanitizer settings for the dialog tests, read by the sanitizer runtime at
// start-up (unused in other builds). Opening the default input loads ALSA
// plugins through PortAudio; they keep allocations for the life of the process
// and are unloaded before the leak check. With the full stack unwound at each
// allocation those are attributed to the sound libraries, not to an unknown
// module.
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
