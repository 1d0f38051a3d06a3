# A 32-bit RISC-V microcontroller with no operating system: Debian's riscv64-unknown-elf-gcc
# for RV32IMAC with the ILP32 ABI, and picolibc's C library (of which the core uses only memcpy
# and memset), its headers and its library for that processor named directly.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR riscv32)
set(CMAKE_C_COMPILER riscv64-unknown-elf-gcc)
set(CMAKE_ASM_COMPILER riscv64-unknown-elf-gcc)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(TARN_PICOLIBC /usr/lib/picolibc/riscv64-unknown-elf)
set(TARN_DEVICE_FLAGS "-march=rv32imac -mabi=ilp32 -mcmodel=medany -isystem ${TARN_PICOLIBC}/include -ftls-model=local-exec -ffunction-sections -fdata-sections")
set(CMAKE_C_FLAGS_INIT "${TARN_DEVICE_FLAGS}")
set(CMAKE_ASM_FLAGS_INIT "${TARN_DEVICE_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-nodefaultlibs -L${TARN_PICOLIBC}/lib/rv32imac/ilp32")
set(CMAKE_C_STANDARD_LIBRARIES "-Wl,--start-group -lgcc -lc -Wl,--end-group")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE NEVER)
