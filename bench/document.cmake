# Read history of 10,000 events from the simulator into a store of 1,000,000, split into
# download, store and show.
if(TARGET kestra_document AND TARGET kestra_sim)
    add_executable(bench_document_readhistory ${CMAKE_CURRENT_LIST_DIR}/document_readhistory.cpp)
    target_link_libraries(bench_document_readhistory PRIVATE kestra_document kestra_sim benchmark::benchmark)
endif()
