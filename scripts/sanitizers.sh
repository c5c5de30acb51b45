#!/usr/bin/env bash
# Sanitizer run-time settings, shared by scripts/sanitize and tests/fuzz/run. Sourced after
# setup.sh (ZEMBRA_ROOT set).

# Reports go to files as well as failing the program: a report from a child process (zembra-cli
# under the command-line tests) or one that does not change an exit status would otherwise pass
# unseen. The exit code is not 1, which the failure tests expect of zembra-cli.
zembra_sanitizer_env() {
  local reports=${1:-}
  local log=""
  [ -n "$reports" ] && log=":log_path=$reports/report"
  export ASAN_OPTIONS="exitcode=86:detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1${log}"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=86${log}"
  export LSAN_OPTIONS="suppressions=$ZEMBRA_ROOT/scripts/lsan.supp:print_suppressions=0${log}"
  export TSAN_OPTIONS="exitcode=66:second_deadlock_stack=1:suppressions=$ZEMBRA_ROOT/scripts/tsan.supp${log}"
}

# The system libraries that the FFmpeg libraries pull in (not FFmpeg's own, not the C and C++
# run-time), one path a line.
zembra_ffmpeg_dependencies() {
  local libdir
  libdir=$(pkg-config --variable=libdir libavcodec)
  ldd "$libdir"/libav{codec,format,filter,device,util}.so.[0-9]* "$libdir"/libsw{scale,resample}.so.[0-9]* 2>/dev/null |
    awk '/=> \// {print $3}' |
    grep -v -E '/lib(av(codec|format|filter|device|util)|swscale|swresample|postproc)\.so|/lib(c|m|stdc\+\+|gcc_s|pthread|dl|rt)\.so' |
    sort -u
}

# Exports ZEMBRA_SANITIZER_PRELOAD for scripts/sanitizer-exec: the sanitizer's run-time first (it
# must come first), then FFmpeg's system dependencies, so that those are loaded from the start
# instead of with FFmpeg at run time. Loaded with FFmpeg, two things go wrong that are not the
# project's faults:
#  - the loader tests unload FFmpeg, and with it libraries that keep memory from their own
#    initialisers (libicu, libflite, libcairo...): LeakSanitizer reports it, and since those
#    libraries are gone it names whatever library was mapped at the same address later, so a
#    suppression by library name cannot catch these reports reliably;
#  - libraries with thread-local storage loaded at run time grow glibc's table of dynamic TLS
#    blocks, which GCC 12's LeakSanitizer tracks wrongly: at exit it scans a block that does not
#    exist and dies ("Tracer caught signal 11", at the exit of the test that encodes and
#    decodes H.264 with codec threads; the crash is in the sanitizer's own scan, after every
#    thread of ours has ended).
# Preloaded, the libraries stay for the whole process and their TLS is static.
zembra_sanitizer_preload() {
  local runtime=$1 libs
  libs=$(zembra_ffmpeg_dependencies | tr '\n' ' ')
  export ZEMBRA_SANITIZER_PRELOAD="$runtime $libs"
}
