/* Start-up and semihosting for the MPS2 AN386 board: the vector table, a reset handler that
 * lays out memory and calls main, and the two host calls the test firmware uses. */
#include <stdint.h>
#include <string.h>

#include "board.h"

extern uint32_t _stack_top, _data_start, _data_end, _data_load, _bss_start, _bss_end;
int main(void);
void ResetHandler(void) __attribute__((noreturn));

/* The processor reads the initial stack pointer and the reset address from here. */
static const struct {
  void* stack;
  void (*reset)(void);
} kVectors __attribute__((section(".vectors"), used)) = {&_stack_top, ResetHandler};

static int Semihost(int operation, const void* argument) {
  register int r0 __asm__("r0") = operation;
  register const void* r1 __asm__("r1") = argument;
  __asm__ volatile("bkpt 0xAB" : "+r"(r0) : "r"(r1) : "memory");
  return r0;
}

void BoardWrite(const char* text) {
  (void)Semihost(0x04 /* SYS_WRITE0 */, text);
}

void BoardExit(int failed) {
  /* ADP_Stopped_ApplicationExit ends qemu with status 0, any other reason with 1. */
  (void)Semihost(0x18 /* SYS_EXIT */, (const void*)(uintptr_t)(failed ? 0x20023 : 0x20026));
  for (;;) {
  }
}

void ResetHandler(void) {
  memcpy(&_data_start, &_data_load, (size_t)((char*)&_data_end - (char*)&_data_start));
  memset(&_bss_start, 0, (size_t)((char*)&_bss_end - (char*)&_bss_start));
  BoardExit(main());
}
