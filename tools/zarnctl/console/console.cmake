# zarnctl console (included by tools/zarnctl/CMakeLists.txt): an HTTP server (cpp-httplib, Debian's libcpp-httplib-dev)
# with the page of page/ built in.
set(console_dir ${CMAKE_CURRENT_LIST_DIR})
find_package(PkgConfig REQUIRED)
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)

set(page_files
  ${console_dir}/page/index.html
  ${console_dir}/page/console.css
  ${console_dir}/page/console.js
)
set(assets ${CMAKE_CURRENT_BINARY_DIR}/console/assets.cpp)
add_custom_command(
  OUTPUT ${assets}
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${assets} "-DFILES=${page_files}" -P ${console_dir}/embed.cmake
  DEPENDS ${page_files} ${console_dir}/embed.cmake
  COMMENT "Building the console's page into zarnctl"
  VERBATIM)

target_sources(zarnctl PRIVATE
  ${console_dir}/command.cpp
  ${console_dir}/station.cpp
  ${console_dir}/api.cpp
  ${console_dir}/server.cpp
  ${assets}
)
target_include_directories(zarnctl PRIVATE ${console_dir})
target_link_libraries(zarnctl PRIVATE PkgConfig::HTTPLIB)
