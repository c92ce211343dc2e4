# The pictures of the touch pages are drawn at build time by a small Qt
# program (png_painter.cpp) and compiled into the resource tree k47_resource,
# where the program reaches them as ":/png/<name>". Nothing is downloaded.
#
# A cross build of the device program cannot run a painter built for the
# device: give it one built for the build machine with
# -DZDR_HOST_PNG_PAINTER=<path>.
set(ZDR_HOST_PNG_PAINTER "" CACHE FILEPATH "zdr_png_painter built for the build machine (cross builds)")

if(ZDR_HOST_PNG_PAINTER)
  set(zdr_painter ${ZDR_HOST_PNG_PAINTER})
  set(zdr_painter_dep ${ZDR_HOST_PNG_PAINTER})
else()
  add_executable(zdr_png_painter ${CMAKE_SOURCE_DIR}/resources/png_painter.cpp)
  target_link_libraries(zdr_png_painter PRIVATE Qt5::Gui)
  set(zdr_painter $<TARGET_FILE:zdr_png_painter>)
  set(zdr_painter_dep zdr_png_painter)
endif()

set(zdr_res_dir ${CMAKE_BINARY_DIR}/resources)
add_custom_command(
  OUTPUT ${zdr_res_dir}/k47_resource.qrc
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${zdr_painter} ${zdr_res_dir}
  DEPENDS ${zdr_painter_dep} ${CMAKE_SOURCE_DIR}/resources/png_painter.cpp
  COMMENT "Drawing the pictures of the touch pages"
  VERBATIM)
add_custom_command(
  OUTPUT ${zdr_res_dir}/qrc_k47_resource.cpp
  COMMAND Qt5::rcc --name k47_resource --output ${zdr_res_dir}/qrc_k47_resource.cpp
          ${zdr_res_dir}/k47_resource.qrc
  DEPENDS ${zdr_res_dir}/k47_resource.qrc
  COMMENT "Compiling the resource tree k47_resource"
  VERBATIM)
set_source_files_properties(${zdr_res_dir}/qrc_k47_resource.cpp PROPERTIES GENERATED ON SKIP_AUTOGEN ON)
set(ZDR_RESOURCE_SOURCES ${zdr_res_dir}/qrc_k47_resource.cpp)
