# The libFuzzer target for blorbinfo, built by the fuzz-info preset (clang,
# with the sanitizers and -fsanitize=fuzzer-no-link on everything else).
# Run it with a scratch folder first, where libFuzzer writes what it finds,
# and the seeds second:
#   build/fuzz-info/info/blorbinfo_fuzz -max_total_time=30 scratch fuzz/corpus/blorbinfo
add_executable(blorbinfo_fuzz ${PROJECT_SOURCE_DIR}/fuzz/blorbinfo_fuzz.cc)
target_link_libraries(blorbinfo_fuzz PRIVATE blorbinfo_core)
target_link_options(blorbinfo_fuzz PRIVATE -fsanitize=fuzzer)
