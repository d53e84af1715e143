# A station downloading while four clients send requests in a loop (a soak, 60 s by default).
if(TARGET kestra_document AND TARGET kestra_sim)
    add_executable(bench_station_soak ${CMAKE_CURRENT_LIST_DIR}/station_soak.cpp)
    target_link_libraries(bench_station_soak PRIVATE kestra_document kestra_sim)
endif()
