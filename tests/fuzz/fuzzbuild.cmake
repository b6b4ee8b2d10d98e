# Initial cache for the libFuzzer build (cmake -C): clang with ASan and UBSan on everything,
# so the libraries the targets link are instrumented too. tools/fuzz.sh uses it.
set(CMAKE_CXX_COMPILER clang++ CACHE STRING "")
set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "")
# Undefined behaviour is a finding, not a warning: stop at the first one.
set(CMAKE_CXX_FLAGS
    "-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
    CACHE STRING "")
set(VORNA_FUZZ ON CACHE BOOL "")
set(VORNA_BUILD_BENCH OFF CACHE BOOL "")
