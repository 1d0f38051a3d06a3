/* What the test firmware needs of the board: text and an exit status for the host, through
 * semihosting (qemu passes them on to its own standard output and exit status). */
#ifndef TARN_DEVICE_BOARD_H
#define TARN_DEVICE_BOARD_H

void BoardWrite(const char* text);
void BoardExit(int failed) __attribute__((noreturn));

#endif
