// libx265 3.5 keeps some of what x265_encoder_open allocates after x265_encoder_close (parsed parameter
// strings, frame filter buffers); the leak checker is told to look past that library's own allocations.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n";
}
