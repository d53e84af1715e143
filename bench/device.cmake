# Benchmarks of the device worker's history conversion and download spool.
add_executable(bench_device_spool ${CMAKE_CURRENT_LIST_DIR}/device_spool.cpp)
target_link_libraries(bench_device_spool PRIVATE kestra_device benchmark::benchmark)
