# History download from the simulator at 115200 baud through a minimal client over the pty.
add_executable(sim_download ${CMAKE_CURRENT_LIST_DIR}/sim_download.cpp)
target_link_libraries(sim_download PRIVATE kestra_sim benchmark::benchmark)
