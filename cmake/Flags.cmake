# Compiler flags shared by every target.

# Floating point must give the same bits everywhere: no contraction into FMA,
# never -ffast-math.
add_compile_options(-ffp-contract=off -fno-fast-math -Wall -Wextra -Wno-unused-parameter)

# -O1 as the sanitizers advise: reports stay exact and the suite runs in a
# third of the time, which the tests that time calls in CPU time rely on.
if(QUILLMAR_SANITIZE)
  add_compile_options(-O1 -fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QUILLMAR_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# ThreadSanitizer, for the tests that share the engine between threads
# (`make test` builds and runs them in build/tsan).
option(QUILLMAR_TSAN "Build with ThreadSanitizer" OFF)
if(QUILLMAR_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
