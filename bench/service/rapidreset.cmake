# HTTP/2 rapid reset against the real vorna-service on loopback (libnghttp2 frames the flood,
# OpenSSL carries it over TLS).
pkg_check_modules(NGHTTP2 IMPORTED_TARGET libnghttp2)
find_package(OpenSSL)
if(NGHTTP2_FOUND AND OpenSSL_FOUND AND TARGET vorna-service)
  add_executable(bench_rapidreset rapidreset.cpp)
  target_link_libraries(bench_rapidreset PRIVATE vorna_protocol Qt5::Core PkgConfig::NGHTTP2 OpenSSL::SSL)
  target_compile_definitions(bench_rapidreset PRIVATE VORNA_SERVICE_BINARY="$<TARGET_FILE:vorna-service>")
  add_dependencies(bench_rapidreset vorna-service)
endif()
