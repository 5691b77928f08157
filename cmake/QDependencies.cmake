# Outside libraries, as imported targets. tools/install-deps.sh installs the Debian packages.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(GTest REQUIRED)

pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET
  libavformat libavcodec libavutil libswscale libswresample libavfilter)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET sqlite3)
pkg_check_modules(SDBUSCPP REQUIRED IMPORTED_TARGET sdbus-c++)
find_package(pugixml REQUIRED)

if(Q_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
