# Benchmarks of the event model, stream codec and event database.
add_executable(bench_history_model ${CMAKE_CURRENT_LIST_DIR}/history_model.cpp)
target_link_libraries(bench_history_model PRIVATE kestra_history benchmark::benchmark)
add_executable(bench_history_db ${CMAKE_CURRENT_LIST_DIR}/history_db.cpp)
target_link_libraries(bench_history_db PRIVATE kestra_history benchmark::benchmark)
# Both engines side by side; the server part runs under scripts/pg-test-cluster --durable.
add_executable(bench_history_engines ${CMAKE_CURRENT_LIST_DIR}/history_engines.cpp)
target_link_libraries(bench_history_engines PRIVATE kestra_history benchmark::benchmark)
# Four stations inserting into one PostgreSQL store at once; runs itself under a throwaway cluster.
add_executable(bench_history_pgstations ${CMAKE_CURRENT_LIST_DIR}/history_pgstations.cpp)
target_link_libraries(bench_history_pgstations PRIVATE kestra_history)
target_compile_definitions(bench_history_pgstations PRIVATE PG_CLUSTER="${PROJECT_SOURCE_DIR}/scripts/pg-test-cluster")
add_executable(bench_history_export ${CMAKE_CURRENT_LIST_DIR}/history_export.cpp)
target_link_libraries(bench_history_export PRIVATE kestra_history benchmark::benchmark)
# Opening a large file warm and cold; takes the number of events (default ten million).
add_executable(bench_history_open ${CMAKE_CURRENT_LIST_DIR}/history_open.cpp)
target_link_libraries(bench_history_open PRIVATE kestra_history)
