# Printing an event list of 10,000 events to PDF: time, pages and file size.
if(TARGET kestra_ui_print)
    add_executable(bench_ui_print ${CMAKE_CURRENT_LIST_DIR}/ui_print_bench.cpp)
    target_link_libraries(bench_ui_print PRIVATE kestra_ui_print benchmark::benchmark)
endif()
