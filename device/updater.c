/* The reference updater: see updater.h. */
#include "updater.h"

#include <string.h>

/* State record: "TUPD", the sequence, the pages programmed, the decoder's saved state, the
 * signature checker's (zeros for an unsigned update), and the CRC-32 of all that. Boot record:
 * "TBOT", the image's size, its CRC-32, its signed version (8 bytes), and the CRC-32 of those.
 * Both little-endian, at the start of their page. */
#define AT_VERIFIER (12 + TARN_RESUME_SIZE)
#define RECORD_SIZE (AT_VERIFIER + TARN_VERIFIER_RESUME_SIZE + 4)
#define BOOT_SIZE 24

static void Put32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}

static uint32_t Get32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static const uint8_t* PageAt(const Flash* flash, uint32_t page) {
  return flash->base + (size_t)page * UPDATER_PAGE;
}

static uint32_t StatePage(const Updater* u, uint32_t sequence) {
  return u->slot_pages + (sequence & 1u);
}

static uint32_t BootPage(uint32_t slot_pages) {
  return slot_pages + 2;
}

/* A page erased, then programmed with `data`. */
static int Write(const Flash* flash, uint32_t page, const uint8_t data[UPDATER_PAGE]) {
  return flash->erase(flash->context, page) == 0 && flash->program(flash->context, page, data) == 0
             ? 0
             : -1;
}

static int Signed(const Updater* u) {
  return u->signing != NULL && u->signing->key != NULL;
}

static tarn_status Fail(Updater* u, tarn_status status) {
  if (u->status == TARN_OK) u->status = status;
  (void)tarn_decoder_finish(&u->dec, NULL); /* wipes the key of a decoder still live */
  return u->status;
}

/* The page filled so far into the slot, and (`save`) the state after it into a state record. */
static tarn_status ProgramPage(Updater* u, int save) {
  uint8_t record[UPDATER_PAGE];
  if (u->pages_done >= u->slot_pages) return Fail(u, TARN_TOO_LARGE);
  memset(u->page + u->fill, 0xFF, UPDATER_PAGE - u->fill);
  if (Write(u->flash, u->pages_done, u->page) != 0) return Fail(u, TARN_WRITE_FAILED);
  ++u->pages_done;
  u->fill = 0;
  if (!save) return TARN_OK;
  memset(record, 0xFF, sizeof record);
  memcpy(record, "TUPD", 4);
  Put32(record + 4, u->sequence + 1);
  Put32(record + 8, u->pages_done);
  if (tarn_decoder_save(&u->dec, record + 12) != TARN_OK ||
      (Signed(u) && tarn_verifier_save(&u->verifier, record + AT_VERIFIER) != TARN_OK)) {
    return Fail(u, TARN_INTERNAL_ERROR);
  }
  Put32(record + RECORD_SIZE - 4, tarn_crc32(0, record, RECORD_SIZE - 4));
  if (Write(u->flash, StatePage(u, u->sequence + 1), record) != 0) {
    return Fail(u, TARN_WRITE_FAILED);
  }
  ++u->sequence;
  return TARN_OK;
}

tarn_status UpdaterBegin(Updater* u, const Flash* flash, uint32_t slot_pages, const tarn_key* key,
                         const UpdaterSigning* signing, const char* signature,
                         size_t signature_length) {
  memset(u, 0, sizeof *u);
  u->flash = flash;
  u->signing = signing;
  u->slot_pages = slot_pages;
  if (Signed(u)) {
    const tarn_signature_policy policy = {signing->installed_version, signing->device};
    u->status = signature == NULL ? TARN_NO_SIGNATURE
                                  : tarn_verifier_init(&u->verifier, signing->key, signature,
                                                       signature_length, &policy, NULL);
    if (u->status != TARN_OK) return u->status;
  }
  if (flash->erase(flash->context, BootPage(slot_pages)) != 0 ||
      flash->erase(flash->context, slot_pages) != 0 ||
      flash->erase(flash->context, slot_pages + 1) != 0) {
    u->status = TARN_WRITE_FAILED;
    return u->status;
  }
  return tarn_decoder_init(&u->dec, key);
}

tarn_status UpdaterResume(Updater* u, const Flash* flash, uint32_t slot_pages, const tarn_key* key,
                          const UpdaterSigning* signing) {
  const uint8_t* best = NULL;
  uint32_t i;
  memset(u, 0, sizeof *u);
  u->flash = flash;
  u->signing = signing;
  u->slot_pages = slot_pages;
  for (i = 0; i < 2; ++i) {
    const uint8_t* r = PageAt(flash, slot_pages + i);
    if (memcmp(r, "TUPD", 4) == 0 &&
        Get32(r + RECORD_SIZE - 4) == tarn_crc32(0, r, RECORD_SIZE - 4) &&
        (best == NULL || Get32(r + 4) > Get32(best + 4))) {
      best = r;
    }
  }
  if (best == NULL || Get32(best + 8) > slot_pages) return TARN_INVALID_ARGUMENT;
  u->sequence = Get32(best + 4);
  u->pages_done = Get32(best + 8);
  if (Signed(u) &&
      tarn_verifier_resume(&u->verifier, signing->key, best + AT_VERIFIER) != TARN_OK) {
    return TARN_INVALID_ARGUMENT;
  }
  return tarn_decoder_resume(&u->dec, key, best + 12);
}

uint64_t UpdaterPosition(const Updater* u) {
  return tarn_decoder_position(&u->dec);
}

tarn_status UpdaterFeed(Updater* u, const void* data, size_t size) {
  const uint8_t* in = (const uint8_t*)data;
  if (u->status != TARN_OK) return u->status;
  for (;;) {
    size_t used, written;
    const tarn_status status = tarn_decoder_step(&u->dec, in, size, &used, u->page + u->fill,
                                                 UPDATER_PAGE - u->fill, &written);
    if (status != TARN_OK) return Fail(u, status);
    if (Signed(u)) (void)tarn_verifier_update(&u->verifier, in, used);
    in += used;
    size -= used;
    u->fill += (uint32_t)written;
    if (u->fill == UPDATER_PAGE && ProgramPage(u, 1) != TARN_OK) return u->status;
    if (used == 0 && written == 0) return TARN_OK;
  }
}

tarn_status UpdaterFinish(Updater* u) {
  tarn_info info;
  tarn_signature_info signature;
  uint8_t boot[UPDATER_PAGE];
  tarn_status status = UpdaterFeed(u, NULL, 0); /* a block made and not yet given */
  if (status != TARN_OK) return status;
  status = tarn_decoder_finish(&u->dec, &info);
  if (status != TARN_OK) return Fail(u, status);
  signature.version = 0;
  if (Signed(u)) {
    status = tarn_verifier_finish(&u->verifier, &signature);
    if (status != TARN_OK) return Fail(u, status);
  }
  /* The last page: a cut from here on resumes from the page before it. */
  if (u->fill != 0 && ProgramPage(u, 0) != TARN_OK) return u->status;
  memset(boot, 0xFF, sizeof boot);
  memcpy(boot, "TBOT", 4);
  Put32(boot + 4, (uint32_t)info.image_size);
  Put32(boot + 8, info.image_crc);
  Put32(boot + 12, (uint32_t)signature.version);
  Put32(boot + 16, (uint32_t)(signature.version >> 32));
  Put32(boot + BOOT_SIZE - 4, tarn_crc32(0, boot, BOOT_SIZE - 4));
  if (Write(u->flash, BootPage(u->slot_pages), boot) != 0) return Fail(u, TARN_WRITE_FAILED);
  /* Nothing of this update is left to resume. */
  if (u->flash->erase(u->flash->context, u->slot_pages) != 0 ||
      u->flash->erase(u->flash->context, u->slot_pages + 1) != 0) {
    return Fail(u, TARN_WRITE_FAILED);
  }
  return TARN_OK;
}

/* The boot record when it is whole (its mark and its CRC-32), else NULL. */
static const uint8_t* BootRecord(const Flash* flash, uint32_t slot_pages) {
  const uint8_t* boot = PageAt(flash, BootPage(slot_pages));
  return memcmp(boot, "TBOT", 4) == 0 &&
                 Get32(boot + BOOT_SIZE - 4) == tarn_crc32(0, boot, BOOT_SIZE - 4)
             ? boot
             : NULL;
}

int UpdaterBootable(const Flash* flash, uint32_t slot_pages, uint32_t* image_size) {
  const uint8_t* boot = BootRecord(flash, slot_pages);
  if (boot == NULL || Get32(boot + 4) > slot_pages * UPDATER_PAGE) return 0;
  *image_size = Get32(boot + 4);
  return tarn_crc32(0, flash->base, *image_size) == Get32(boot + 8);
}

uint64_t UpdaterVersion(const Flash* flash, uint32_t slot_pages) {
  const uint8_t* boot = BootRecord(flash, slot_pages);
  return boot == NULL ? 0 : (uint64_t)Get32(boot + 12) | (uint64_t)Get32(boot + 16) << 32;
}
