# The soak runs read the WAV files lorvex-recv writes and attach lorvex-shm.
# At length (make soak) the stream alone runs ten minutes.
find_library(SNDFILE_LIBRARY sndfile REQUIRED)
target_link_libraries(${name} PRIVATE ${SNDFILE_LIBRARY})
add_dependencies(${name} lorvex-recv lorvex-shm)
set(LORVEX_TEST_PROPERTIES LABELS soak TIMEOUT 7200)
