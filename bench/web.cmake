# The station's web server under 20 browsers against a 1,000,000-event store, and the station's
# own TCP requests meanwhile.
if(TARGET kestra_web AND TARGET kestra_sim)
    add_executable(bench_web ${CMAKE_CURRENT_LIST_DIR}/web_bench.cpp)
    target_link_libraries(bench_web PRIVATE kestra_web kestra_sim)
endif()
