# A Cortex-M microcontroller with no operating system: arm-none-eabi-gcc, Thumb code, newlib's
# C library (of which the core uses only memcpy and memset). The processor is the firmware's:
# TARN_DEVICE_CPU (cortex-m0, cortex-m3, cortex-m4, cortex-m33, ...), cortex-m4 when not named.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(TARN_DEVICE_CPU cortex-m4 CACHE STRING "the processor the firmware is for (-mcpu)")
set(TARN_DEVICE_FLAGS "-mcpu=${TARN_DEVICE_CPU} -mthumb -ffunction-sections -fdata-sections")
set(CMAKE_C_FLAGS_INIT "${TARN_DEVICE_FLAGS}")
set(CMAKE_ASM_FLAGS_INIT "${TARN_DEVICE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TARN_DEVICE_FLAGS} -ffreestanding -fno-exceptions -fno-rtti")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE NEVER)
