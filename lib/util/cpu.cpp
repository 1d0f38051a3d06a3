#include "util/cpu.h"

#include "platform/platform.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace tarn::util {
namespace {

#if defined(__x86_64__) || defined(__i386__)
// The register state the system saves on a switch (XCR0): bit 1 xmm, 2 ymm, 5-7 mask and zmm.
unsigned long long SavedState() {
  unsigned lo = 0, hi = 0;
  __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return static_cast<unsigned long long>(hi) << 32 | lo;
}
#endif

CpuFeatures Probe() {
  CpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return f;
  f.sse2 = (d >> 26) & 1;
  f.sse41 = (c >> 19) & 1;
  f.pclmul = (c >> 1) & 1;
  const bool osxsave = (c >> 27) & 1;
  const bool avx = (c >> 28) & 1;
  const unsigned long long saved = osxsave ? SavedState() : 0;
  const bool ymm = (saved & 0x6) == 0x6;
  const bool zmm = (saved & 0xE6) == 0xE6;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) != 0) {
    f.avx2 = avx && ymm && ((b >> 5) & 1);
    // F (b16), BW (b30), VL (b31).
    f.avx512 = f.avx2 && zmm && ((b >> 16) & 1) && ((b >> 30) & 1) && ((b >> 31) & 1);
    f.vpclmul = f.avx512 && f.pclmul && ((c >> 10) & 1);
  }
#endif
  f.arm_crc32 = platform::CpuHasArmCrc32();
  return f;
}

}  // namespace

const CpuFeatures& Cpu() {
  static const CpuFeatures features = Probe();
  return features;
}

}  // namespace tarn::util
