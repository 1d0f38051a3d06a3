/* A reference updater for a bootloader: the container arrives over a transport in pieces of any
 * size; the image goes page by page into a staging slot of NOR flash, which is marked bootable
 * only once the decoder's verdict is TARN_OK; the decoder's state (without the key) is saved
 * in flash after every page, so that after a power cut the update resumes where it stood.
 *
 * Flash layout, in pages of UPDATER_PAGE bytes: the staging slot (slot_pages), two pages of
 * state records written in turn (a torn one is refused by its check word, and the other one
 * holds), and one page holding the boot record (the image's size and CRC-32).
 *
 * With a signing key configured, the transport sends the container's signature file first:
 * UpdaterBegin checks it (the key, the trusted comment, the version against the installed one,
 * the device) before it erases anything, so that a refused update leaves the installed image
 * bootable; the signature is then checked in the same pass that decodes, its state saved and
 * resumed with the decoder's, and the slot is marked bootable only when the signature, the
 * version and both CRCs hold. The boot record keeps the signed version.
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

/* What a signed update must hold. */
typedef struct UpdaterSigning {
  const tarn_public_key* key; /* compiled in; NULL: containers are not signed */
  uint64_t installed_version; /* a signed version below it is refused */
  const char* device;         /* this device's name; NULL: any */
} UpdaterSigning;

typedef struct Updater {
  const Flash* flash;
  const UpdaterSigning* signing; /* NULL: unsigned containers */
  tarn_verifier verifier;
  uint32_t slot_pages;
  tarn_decoder dec;
  uint8_t page[UPDATER_PAGE]; /* the page being filled */
  uint32_t fill;              /* its bytes so far */
  uint32_t pages_done;        /* pages of the slot programmed */
  uint32_t sequence;          /* of the last state record */
  tarn_status status;         /* a failure every later call repeats */
} Updater;

/* A new update: with `signing`, the signature file's text checked first (TARN_NO_SIGNATURE
 * without one, TARN_BAD_SIGNATURE, TARN_OLDER_VERSION, TARN_OTHER_DEVICE: nothing erased); then
 * the boot record and the state records erased, so that a slot being written is never bootable
 * and nothing older is resumed. */
tarn_status UpdaterBegin(Updater* u, const Flash* flash, uint32_t slot_pages, const tarn_key* key,
                         const UpdaterSigning* signing, const char* signature,
                         size_t signature_length);
/* The update the newest whole state record describes; TARN_INVALID_ARGUMENT when there is
 * none (or, with `signing`, none with a signature's state under its key). */
tarn_status UpdaterResume(Updater* u, const Flash* flash, uint32_t slot_pages, const tarn_key* key,
                          const UpdaterSigning* signing);
/* Where the transport sends the container from. */
uint64_t UpdaterPosition(const Updater* u);
tarn_status UpdaterFeed(Updater* u, const void* data, size_t size);
/* The end of the container: the last page programmed, the verdict, and only with TARN_OK the
 * boot record written. */
tarn_status UpdaterFinish(Updater* u);
/* 1 when the boot record is whole and the slot holds an image of its size and CRC-32. */
int UpdaterBootable(const Flash* flash, uint32_t slot_pages, uint32_t* image_size);
/* The signed version of the installed image (0 when unsigned or none): the next update's
 * installed_version. */
uint64_t UpdaterVersion(const Flash* flash, uint32_t slot_pages);

#endif
