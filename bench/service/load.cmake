# Load benchmark of the RPC server: drives the built vorna-service with many raw gRPC clients.
find_package(Threads REQUIRED)
if(TARGET vorna-service)
  add_executable(bench_load load.cpp)
  target_link_libraries(bench_load PRIVATE vorna_protocol Qt5::Core Threads::Threads)
  target_compile_definitions(bench_load PRIVATE VORNA_SERVICE_BINARY="$<TARGET_FILE:vorna-service>")
  add_dependencies(bench_load vorna-service)
endif()
