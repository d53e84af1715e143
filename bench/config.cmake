# Configuration, application log and port discovery.
add_executable(bench_config ${CMAKE_CURRENT_LIST_DIR}/config_bench.cpp)
target_link_libraries(bench_config PRIVATE kestra_config kestra_device benchmark::benchmark)
