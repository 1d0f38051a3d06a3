// What the processor, and the operating system for the wider registers, let the kernels use:
// probed once, read by the one dispatch point of each kernel. A feature counts only when the
// system also saves the registers it needs (XCR0 on x86), so that a path is never chosen where
// its instructions would fault.
#pragma once

// For the kernels' functions: their vectors live in registers, in local arrays the compiler
// keeps there. A stack protector (hardened builds give one to every function with a local
// array) makes them live in memory instead, at a third of the speed: the kernels take no
// input that could overrun such an array, so they go without.
#if defined(__has_attribute)
#if __has_attribute(no_stack_protector)
#define TARN_KERNEL_ATTRIBUTES no_stack_protector
#endif
#endif
#ifndef TARN_KERNEL_ATTRIBUTES
#define TARN_KERNEL_ATTRIBUTES
#endif

namespace tarn::util {

struct CpuFeatures {
  bool sse2 = false, sse41 = false, pclmul = false;  // x86
  bool avx2 = false;                                 // with the system saving ymm registers
  bool avx512 = false;   // AVX-512 F, BW and VL, with the system saving zmm and mask registers
  bool vpclmul = false;  // carry-less multiplication on ymm and zmm registers, with avx512
  bool arm_crc32 = false;
};

const CpuFeatures& Cpu();

}  // namespace tarn::util
