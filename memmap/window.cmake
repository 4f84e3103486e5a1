# The memory map window and its grid widget (Qt), over the grid model.
find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets)

add_library(varnok_memmap_window STATIC
  ${CMAKE_CURRENT_LIST_DIR}/frm_data.cpp
  ${CMAKE_CURRENT_LIST_DIR}/frm_data.h
  ${CMAKE_CURRENT_LIST_DIR}/map_grid_view.cpp
  ${CMAKE_CURRENT_LIST_DIR}/map_grid_view.h)
set_target_properties(varnok_memmap_window PROPERTIES AUTOMOC ON)
target_include_directories(varnok_memmap_window PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(varnok_memmap_window PUBLIC varnok_memmap varnok_ui Qt6::Widgets)
varnok_warnings(varnok_memmap_window)
