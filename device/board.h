/* What the test firmware needs of the board: text and an exit status for the host through
 * semihosting (qemu passes them on to its own standard output and exit status), a count of the
 * instructions run, and the stack pointer. */
#ifndef TARN_DEVICE_BOARD_H
#define TARN_DEVICE_BOARD_H

#include <stdint.h>

void BoardWrite(const char* text);
void BoardWriteNumber(const char* label, uint32_t value);
void BoardExit(int failed) __attribute__((noreturn));
/* Instructions run since the first call, as the emulator counts them (-icount shift=0): the
 * instruction counter where the processor has one, else the system timer scaled by a
 * calibrating loop of known length. */
uint32_t BoardInstructions(void);

/* The stack pointer of the caller. */
static inline uintptr_t BoardStackPointer(void) {
  uintptr_t sp;
#if defined(__riscv)
  __asm__ volatile("mv %0, sp" : "=r"(sp));
#else
  __asm__ volatile("mov %0, sp" : "=r"(sp));
#endif
  return sp;
}

#endif
