# Load benchmark of the RPC server: many panels, each on its own connection, against the built
# vorna-service running as its own process; with --photos on the photo organisation that the
# panel benchmarks share (bench/panel).
find_package(Threads REQUIRED)
if(TARGET vorna-service)
  add_executable(bench_load load.cpp loadpanel.h loadpanel.cpp)
  target_link_libraries(bench_load PRIVATE bench_photos vorna_benchcommon vorna_testsupport vorna_protocol Threads::Threads)
  target_compile_definitions(bench_load PRIVATE VORNA_SERVICE_BINARY="$<TARGET_FILE:vorna-service>")
  add_dependencies(bench_load vorna-service)

  # The live board's latency: panels watching while a terminal registers.
  add_executable(bench_live live.cpp)
  target_link_libraries(bench_live PRIVATE vorna_benchcommon vorna_testsupport vorna_protocol vorna_storage Threads::Threads)
  target_compile_definitions(bench_live PRIVATE VORNA_SERVICE_BINARY="$<TARGET_FILE:vorna-service>")
  add_dependencies(bench_live vorna-service)
endif()
