# kestractl: formatting a downloaded history for a person or a script.
if(TARGET kestractl_format)
    add_executable(bench_ctl ${CMAKE_CURRENT_LIST_DIR}/ctl_bench.cpp)
    target_link_libraries(bench_ctl PRIVATE kestractl_format benchmark::benchmark)
endif()
