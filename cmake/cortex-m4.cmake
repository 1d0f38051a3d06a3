# A Cortex-M4 microcontroller with no operating system: arm-none-eabi-gcc, Thumb code, no
# exceptions or run-time type information. Test firmware runs under qemu-system-arm on the
# MPS2 board with the AN386 image (a Cortex-M4), talking to the host through semihosting.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(TARN_DEVICE_FLAGS "-mcpu=cortex-m4 -mthumb -ffunction-sections -fdata-sections")
set(CMAKE_C_FLAGS_INIT "${TARN_DEVICE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TARN_DEVICE_FLAGS} -ffreestanding -fno-exceptions -fno-rtti")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-system-arm -M mps2-an386 -nographic -monitor none
    -serial none -semihosting-config enable=on,target=native -kernel)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
