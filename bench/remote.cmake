# Remote requests over loopback: a large instrument list, a large event answer, small requests.
add_executable(bench_remote ${CMAKE_CURRENT_LIST_DIR}/remote_bench.cpp)
target_link_libraries(bench_remote PRIVATE app_core)
