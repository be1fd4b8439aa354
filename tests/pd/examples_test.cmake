# The examples use fixed names machine-wide (the shared memory block 7300):
# one run at a time. lorvex-recv's WAV files are read with libsndfile.
set(LORVEX_TEST_PROPERTIES RESOURCE_LOCK lorvex-examples)
target_link_libraries(${name} PRIVATE ${SNDFILE_LIBRARY})
