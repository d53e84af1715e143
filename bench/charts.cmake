# The charts: the day chart of a long day built and painted, and the range view of a year read
# from a store of a million events and painted.
if(TARGET kestra_charts)
    add_executable(bench_charts ${CMAKE_CURRENT_LIST_DIR}/charts_bench.cpp)
    target_link_libraries(bench_charts PRIVATE kestra_charts benchmark::benchmark)
endif()
