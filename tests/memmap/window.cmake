add_executable(varnok_memmap_window_tests ${CMAKE_CURRENT_LIST_DIR}/frm_data_test.cpp)
set_target_properties(varnok_memmap_window_tests PROPERTIES AUTOMOC ON)
target_link_libraries(varnok_memmap_window_tests PRIVATE varnok_memmap_window Qt6::Test)
varnok_warnings(varnok_memmap_window_tests)

# Qt wants a private runtime folder; the windows run on the offscreen platform.
set(varnok_memmap_xdg ${CMAKE_CURRENT_BINARY_DIR}/xdg-runtime)
file(MAKE_DIRECTORY ${varnok_memmap_xdg})
file(CHMOD ${varnok_memmap_xdg} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
add_test(NAME varnok_memmap_window_tests COMMAND varnok_memmap_window_tests)
set_tests_properties(varnok_memmap_window_tests PROPERTIES
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_RUNTIME_DIR=${varnok_memmap_xdg}")
