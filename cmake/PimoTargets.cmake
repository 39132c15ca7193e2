# Common settings for every target of ours: warnings on, optional sanitizers.
if(PIMO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# Fuzzing builds: every library carries the fuzzer's coverage hooks and the
# sanitizers; only the fuzz targets link the fuzzer's main.
if(PIMO_BUILD_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

option(PIMO_WARNINGS_AS_ERRORS "Treat compiler warnings in our code as errors" OFF)

function(pimo_target_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(PIMO_WARNINGS_AS_ERRORS)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
