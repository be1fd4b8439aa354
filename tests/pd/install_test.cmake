target_compile_definitions(${name} PRIVATE LORVEX_VERSION_TEXT="${PROJECT_VERSION}")
target_compile_definitions(${name} PRIVATE LORVEX_BUILD_DIR="${CMAKE_BINARY_DIR}")
