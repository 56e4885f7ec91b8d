# The test programs of every unit with code for a processor level, run again
# on emulated processors: "max" (AVX2 and BMI2, no AVX-512) and "qemu64" (the
# x86-64 baseline, no AVX2). Code of a level the processor lacks that runs
# before the level is chosen (a static initialiser, a table builder, an
# inline copy the linker kept from a kernel unit) dies there with an illegal
# instruction, whatever the build machine has. AddressSanitizer does not run
# under the emulator: the tree that registers these is built without it
# (QUILLMAR_CPU_LEVELS, `make test` builds it in build/levels).
find_program(QEMU_X86_64 qemu-x86_64 REQUIRED)

set(cpu_level_programs
  # the element-wise, matrix, copy and sort kernels, and the level choice
  userdata_access_test userdata_convert_test userdata_copy_take_test userdata_create_test
  userdata_differential_test userdata_elementwise_test userdata_memory_test userdata_methods_test
  userdata_sort_test userdata_vector_matrix_test
  # the carry-less fold of CRC-32
  formats_crc32_test
  # the oscillator's loop and the buffer operations' clones
  mudo_channel_test mudo_mix_test mudo_golden_test
  # span fills, alpha blits, video out and the address space's fills
  gfx_pixel_pipeline_test gfx_blits_test gfx_video_out_test runtime_address_space_test)
add_custom_target(cpu-level-tests DEPENDS ${cpu_level_programs} e2e_boot_test quillmar sysrom-pack)

foreach(cpu max qemu64)
  foreach(program ${cpu_level_programs})
    add_test(NAME cpu_${cpu}.${program}
             COMMAND env SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ${QEMU_X86_64} -cpu ${cpu} $<TARGET_FILE:${program}>)
  endforeach()
  # The whole program on that processor, through every typed-array method.
  add_test(NAME cpu_${cpu}.e2e_typed_arrays
           COMMAND env "QUILLMAR_E2E_EMULATOR=${QEMU_X86_64} -cpu ${cpu}" $<TARGET_FILE:e2e_boot_test>
                   --gtest_filter=TypedArrays.*)
  set_tests_properties(cpu_${cpu}.e2e_typed_arrays PROPERTIES LABELS cpu_levels)
  foreach(program ${cpu_level_programs})
    set_tests_properties(cpu_${cpu}.${program} PROPERTIES LABELS cpu_levels)
  endforeach()
endforeach()
