/* A reference updater for a bootloader: the container arrives over a transport in pieces of any
 * size; the image goes page by page into a staging slot of NOR flash, which is marked bootable
 * only once the decoder's verdict is TARN_OK; the decoder's state (without the key) is saved
 * in flash after every page, so that after a power cut the update resumes where it stood.
 *
 * Flash layout, in pages of UPDATER_PAGE bytes: the staging slot (slot_pages), two pages of
 * state records written in turn (a torn one is refused by its check word, and the other one
 * holds), and one page holding the boot record (the image's size and CRC-32).
 *
 * At boot: UpdaterBootable. If it says no: UpdaterResume, or, when there is nothing to resume,
 * UpdaterBegin; then the transport sends the container from UpdaterPosition on, through
 * UpdaterFeed, and UpdaterFinish ends it. */
#ifndef TARN_DEVICE_UPDATER_H
#define TARN_DEVICE_UPDATER_H

#include <stddef.h>
#include <stdint.h>

#include "tarn.h"

#define UPDATER_PAGE 1024

/* The flash as NOR flash is: erase sets a whole page to 0xFF; program writes a whole, aligned,
 * erased page; both return 0 on success. Reading is through memory (`base`). */
typedef struct Flash {
  int (*erase)(void* context, uint32_t page);
  int (*program)(void* context, uint32_t page, const uint8_t data[UPDATER_PAGE]);
  const uint8_t* base;
  void* context;
} Flash;

typedef struct Updater {
  const Flash* flash;
  uint32_t slot_pages;
  tarn_decoder dec;
  uint8_t page[UPDATER_PAGE]; /* the page being filled */
  uint32_t fill;              /* its bytes so far */
  uint32_t pages_done;        /* pages of the slot programmed */
  uint32_t sequence;          /* of the last state record */
  tarn_status status;         /* a failure every later call repeats */
} Updater;

/* A new update: the boot record and the state records erased first, so that a slot being
 * written is never bootable and nothing older is resumed. */
tarn_status UpdaterBegin(Updater* u, const Flash* flash, uint32_t slot_pages, const tarn_key* key);
/* The update the newest whole state record describes; TARN_INVALID_ARGUMENT when there is
 * none. */
tarn_status UpdaterResume(Updater* u, const Flash* flash, uint32_t slot_pages, const tarn_key* key);
/* Where the transport sends the container from. */
uint64_t UpdaterPosition(const Updater* u);
tarn_status UpdaterFeed(Updater* u, const void* data, size_t size);
/* The end of the container: the last page programmed, the verdict, and only with TARN_OK the
 * boot record written. */
tarn_status UpdaterFinish(Updater* u);
/* 1 when the boot record is whole and the slot holds an image of its size and CRC-32. */
int UpdaterBootable(const Flash* flash, uint32_t slot_pages, uint32_t* image_size);

#endif
