# Benchmarks of the event model, stream codec and event database.
add_executable(bench_history_model ${CMAKE_CURRENT_LIST_DIR}/history_model.cpp)
target_link_libraries(bench_history_model PRIVATE kestra_history benchmark::benchmark)
add_executable(bench_history_db ${CMAKE_CURRENT_LIST_DIR}/history_db.cpp)
target_link_libraries(bench_history_db PRIVATE kestra_history benchmark::benchmark)
add_executable(bench_history_export ${CMAKE_CURRENT_LIST_DIR}/history_export.cpp)
target_link_libraries(bench_history_export PRIVATE kestra_history benchmark::benchmark)
