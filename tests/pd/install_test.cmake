target_compile_definitions(${name} PRIVATE LORVEX_VERSION_TEXT="${PROJECT_VERSION}")
