/* Start-up and semihosting for the boards the test firmware runs on under qemu: the Cortex-M
 * boards (vector table, SysTick) and the RISC-V virt machine (entry in assembly, the
 * instruction counter). */
#include "board.h"

#include <string.h>

extern uint32_t _stack_top, _data_start, _data_end, _data_load, _bss_start, _bss_end;
int main(void);
void ResetHandler(void) __attribute__((noreturn, used));

#if defined(__riscv)
/* The stack first, then C. */
__asm__(
    ".section .text.start\n"
    ".globl _start\n"
    "_start:\n"
    "  la sp, _stack_top\n"
    "  j ResetHandler\n");

static int Semihost(int operation, const void* argument) {
  register int a0 __asm__("a0") = operation;
  register const void* a1 __asm__("a1") = argument;
  /* The semihosting call: an ebreak between two marker instructions, uncompressed. */
  __asm__ volatile(
      ".option push\n.option norvc\n.balign 16\n"
      "slli x0, x0, 0x1f\nebreak\nsrai x0, x0, 7\n.option pop"
      : "+r"(a0)
      : "r"(a1)
      : "memory");
  return a0;
}

uint32_t BoardInstructions(void) {
  uint32_t count;
  /* csrrs count, minstret, x0, encoded directly: the instruction counter needs no extension
   * name on the command line. */
  __asm__ volatile(".insn i 0x73, 2, %0, x0, -1278" : "=r"(count)); /* 0xB02 as a signed field */
  return count;
}
#else
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

#if defined(TARN_BOARD_NRF51)
/* The nRF51 (micro:bit) has no SysTick in the emulator: its TIMER0, 32 bits at 16 MHz, read
 * through a capture. */
#define TIMER0(offset) (*(volatile uint32_t*)(0x40008000u + (offset)))

static uint32_t Ticks(void) {
  static int started;
  if (!started) {
    TIMER0(0x504) = 0; /* MODE: timer */
    TIMER0(0x508) = 3; /* BITMODE: 32 bits */
    TIMER0(0x510) = 0; /* PRESCALER: 16 MHz */
    TIMER0(0x000) = 1; /* TASKS_START */
    started = 1;
  }
  TIMER0(0x040) = 1; /* TASKS_CAPTURE[0] */
  return TIMER0(0x540);
}
#elif defined(TARN_BOARD_SSE200)
/* The SSE-200 of the AN505 gives SysTick no clock in the emulator: its TIMER0 (a CMSDK timer,
 * its secure alias), 32 bits counting down at the peripheral clock. */
#define TIMER0(offset) (*(volatile uint32_t*)(0x50000000u + (offset)))

static uint32_t Ticks(void) {
  static int started;
  if (!started) {
    TIMER0(0x8) = 0xFFFFFFFFu; /* RELOAD */
    TIMER0(0x4) = 0xFFFFFFFFu; /* VALUE */
    TIMER0(0x0) = 1;           /* CTRL: enabled */
    started = 1;
  }
  return 0xFFFFFFFFu - TIMER0(0x4);
}
#else
#define SYST_CSR (*(volatile uint32_t*)0xE000E010u)
#define SYST_RVR (*(volatile uint32_t*)0xE000E014u)
#define SYST_CVR (*(volatile uint32_t*)0xE000E018u)

/* SysTick counts down 24 bits at the processor's clock: its ticks so far, counted up, with the
 * wraps seen by calls at least once a wrap (a few hundred million instructions). */
static uint32_t Ticks(void) {
  static uint32_t last, high;
  uint32_t now;
  if (SYST_CSR == 0) {
    SYST_RVR = 0x00FFFFFFu;
    SYST_CVR = 0;
    SYST_CSR = 5; /* enabled, the processor's clock, no interrupt */
  }
  now = (0x00FFFFFFu - SYST_CVR) & 0x00FFFFFFu;
  if (now < last) high += 0x01000000u;
  last = now;
  return high + now;
}
#endif

/* Two instructions a turn. */
static void Spin(uint32_t turns) {
  __asm__ volatile(".syntax unified\n1: subs %0, %0, #1\n bne 1b" : "+l"(turns) : : "cc");
}

uint32_t BoardInstructions(void) {
  static uint32_t per_1024_ticks; /* instructions per 1024 ticks */
  if (per_1024_ticks == 0) {
    uint32_t before = Ticks(), ticks;
    Spin(1u << 20);
    ticks = Ticks() - before;
#if !defined(TARN_BOARD_NRF51) && !defined(TARN_BOARD_SSE200)
    if (ticks == 0) {
      /* Some boards give SysTick only its reference clock. */
      SYST_CSR = 1;
      before = Ticks();
      Spin(1u << 20);
      ticks = Ticks() - before;
    }
#endif
    if (ticks == 0) return 0; /* no timer that runs: nothing is counted */
    per_1024_ticks = (uint32_t)((2ull << 20) * 1024u / ticks);
  }
  return (uint32_t)((uint64_t)Ticks() * per_1024_ticks / 1024u);
}
#endif

void BoardWrite(const char* text) {
  (void)Semihost(0x04 /* SYS_WRITE0 */, text);
}

void BoardWriteNumber(const char* label, uint32_t value) {
  char text[16];
  int i = (int)sizeof text - 1;
  text[i] = '\0';
  do {
    text[--i] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0 && i > 0);
  BoardWrite(label);
  BoardWrite(text + i);
}

void BoardExit(int failed) {
  /* On a 32-bit processor the reason itself: ADP_Stopped_ApplicationExit ends qemu with status
   * 0, any other reason with 1. */
  (void)Semihost(0x18 /* SYS_EXIT */, (const void*)(uintptr_t)(failed ? 0x20023 : 0x20026));
  for (;;) {
  }
}

void ResetHandler(void) {
  memcpy(&_data_start, &_data_load, (size_t)((char*)&_data_end - (char*)&_data_start));
  memset(&_bss_start, 0, (size_t)((char*)&_bss_end - (char*)&_bss_start));
  BoardExit(main());
}
