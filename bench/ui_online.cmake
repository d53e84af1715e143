# The online window: one refresh against the unthrottled simulator, and the chart's paint.
if(TARGET kestra_dialogs AND TARGET kestra_sim)
    add_executable(bench_ui_online ${CMAKE_CURRENT_LIST_DIR}/ui_online_bench.cpp)
    target_link_libraries(bench_ui_online PRIVATE kestra_dialogs kestra_sim benchmark::benchmark)
endif()
