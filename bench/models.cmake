# The event list model with a day of 100,000 events: reset, first page of texts, and new
# events inserted in one batch or one by one.
if(TARGET kestra_models)
    add_executable(bench_models ${CMAKE_CURRENT_LIST_DIR}/models_bench.cpp)
    target_link_libraries(bench_models PRIVATE kestra_models benchmark::benchmark)
endif()
