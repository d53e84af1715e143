# Driver figures: CPU while waiting on a silent instrument, round trip, decoding, download speed.
if(TARGET kestra_sim)
    add_executable(bench_driver ${CMAKE_CURRENT_LIST_DIR}/driver_bench.cpp)
    target_link_libraries(bench_driver PRIVATE kestradrv_core kestra_sim)
    set_target_properties(bench_driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
