# The window's event loop while it works: the longest waits between two turns of the loop
# during a throttled download, a year's range view of a million events and Instrument Settings.
if(TARGET kestra_ui AND TARGET kestra_sim)
    add_executable(bench_ui_stall ${CMAKE_CURRENT_LIST_DIR}/ui_stall.cpp)
    target_link_libraries(bench_ui_stall PRIVATE kestra_ui kestra_sim)
endif()
