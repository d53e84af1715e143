# The window: a day of 100,000 events shown, new events arriving in it, the tree of a
# million-event store rebuilt, and the start of the window on that store.
if(TARGET kestra_ui)
    add_executable(bench_ui ${CMAKE_CURRENT_LIST_DIR}/ui_window.cpp)
    target_link_libraries(bench_ui PRIVATE kestra_ui benchmark::benchmark)
endif()
