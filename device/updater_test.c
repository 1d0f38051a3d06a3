/* The reference updater on a simulated NOR flash that erases whole pages and programs only
 * whole, aligned, erased pages. The container arrives in irregular pieces; the power is cut at
 * every flash operation of a small update (before it and halfway through it) and at a sample of
 * those of a 100 KiB one: the RAM is dropped, the board starts again from what the flash holds,
 * and the transport sends from the position the updater names. Every run must end with the
 * right image, bootable; damaged, wrong-key and cut-short containers never become bootable.
 * Signed updates go the same way with the signature checked in the same pass; unsigned, older,
 * other devices' and spliced containers never boot, and those refused before anything is
 * erased leave the installed image bootable. */
#include "updater_test.h"

#include <string.h>

#include "board.h"
#include "signed.h"
#include "updater.h"

#define SLOT_PAGES 104
#define BIG (100u * 1024u + 5u)

static unsigned g_failed;

static void Check(int holds, const char* what) {
  if (!holds) {
    BoardWrite("FAILED: updater: ");
    BoardWrite(what);
    BoardWrite("\n");
    ++g_failed;
  }
}

/* --- The flash, and the power --------------------------------------------------------------- */
static uint8_t g_flash[(SLOT_PAGES + 3) * UPDATER_PAGE];
static long g_ops;         /* operations done since the power came */
static long g_cut_at = -1; /* the operation the power fails in, or -1 */
static int g_half;         /* it fails halfway through, else before it */
static int g_power_lost;

/* 1 when this operation is cut; a cut one does half its work when g_half says so. */
static int Cut(uint8_t* page, uint8_t fill, const uint8_t* data) {
  if (g_power_lost) return 1;
  if (g_ops++ != g_cut_at) return 0;
  if (g_half) {
    if (data != NULL) {
      memcpy(page, data, UPDATER_PAGE / 2);
    } else {
      memset(page, fill, UPDATER_PAGE / 2);
    }
  }
  g_power_lost = 1;
  return 1;
}

static int Erase(void* context, uint32_t page) {
  uint8_t* p = g_flash + (size_t)page * UPDATER_PAGE;
  (void)context;
  if ((size_t)(page + 1) * UPDATER_PAGE > sizeof g_flash || Cut(p, 0xFF, NULL)) return -1;
  memset(p, 0xFF, UPDATER_PAGE);
  return 0;
}

static int Program(void* context, uint32_t page, const uint8_t data[UPDATER_PAGE]) {
  uint8_t* p = g_flash + (size_t)page * UPDATER_PAGE;
  size_t i;
  (void)context;
  if ((size_t)(page + 1) * UPDATER_PAGE > sizeof g_flash) return -1;
  for (i = 0; i < UPDATER_PAGE; ++i) {
    if (p[i] != 0xFF) return -1; /* NOR flash programs erased pages only */
  }
  if (Cut(p, 0, data)) return -1;
  memcpy(p, data, UPDATER_PAGE);
  return 0;
}

static const Flash kFlash = {Erase, Program, g_flash, NULL};

/* --- One update, from a first start to a bootable slot or a verdict --------------------------- */
static const size_t kPieces[] = {1, 20, 244, 512, 3, 1000, 77};

/* The signing the updates run with (NULL: unsigned) and the signature the transport sends. */
static const UpdaterSigning* g_signing;
static const char* g_signature;

/* Boots until the update has ended: TARN_OK with the slot bootable, or the verdict that ends
 * it; *boots gets how many starts it took. */
static tarn_status Update(const uint8_t* container, size_t size, const tarn_key* key,
                          unsigned* boots) {
  static Updater u;
  uint32_t image_size;
  tarn_status status = TARN_OK;
  for (*boots = 1; *boots < 100; ++*boots) {
    size_t at, piece = 0;
    memset(&u, 0x5A, sizeof u); /* what RAM holds after the power comes back */
    g_power_lost = 0;
    g_ops = 0;
    if (UpdaterBootable(&kFlash, SLOT_PAGES, &image_size)) return TARN_OK;
    if (UpdaterResume(&u, &kFlash, SLOT_PAGES, key, g_signing) != TARN_OK) {
      status = UpdaterBegin(&u, &kFlash, SLOT_PAGES, key, g_signing, g_signature,
                            g_signature != NULL ? strlen(g_signature) : 0);
    }
    for (at = (size_t)UpdaterPosition(&u); status == TARN_OK && at < size; ++piece) {
      const size_t n = size - at < kPieces[piece % 7] ? size - at : kPieces[piece % 7];
      status = UpdaterFeed(&u, container + at, n);
      at += n;
    }
    if (status == TARN_OK) status = UpdaterFinish(&u);
    if (!g_power_lost) return status;
    g_cut_at = -1; /* one cut a run */
    status = TARN_OK;
  }
  return TARN_INTERNAL_ERROR;
}

static uint8_t g_image[BIG], g_container[BIG + TARN_HEADER_SIZE];

/* The image make_signatures.py makes too: `salt` 0 for the signed ones. */
static size_t MakeSalted(size_t n, const tarn_key* key, unsigned salt) {
  size_t i, written, tail;
  tarn_encoder enc;
  for (i = 0; i < n; ++i) g_image[i] = (uint8_t)(i * 7u + (i >> 9) + n + salt);
  (void)tarn_encoder_init(&enc, key);
  (void)tarn_encoder_update(&enc, g_image, n, g_container + TARN_HEADER_SIZE, &written);
  (void)tarn_encoder_finish(&enc, g_container + TARN_HEADER_SIZE + written, &tail, g_container);
  return n + TARN_HEADER_SIZE;
}

static size_t Make(size_t n, const tarn_key* key) {
  return MakeSalted(n, key, 0);
}

/* Every cut point in [0, ops) with the given stride, before and halfway through the operation. */
static void CutEverywhere(size_t n, size_t size, const tarn_key* key, long ops, long stride) {
  uint32_t image_size = 0;
  unsigned boots;
  long cut;
  int half;
  for (cut = 0; cut < ops; cut += stride) {
    for (half = 0; half < 2; ++half) {
      memset(g_flash, 0xFF, sizeof g_flash);
      g_cut_at = cut;
      g_half = half;
      Check(Update(g_container, size, key, &boots) == TARN_OK, "an update cut by the power");
      Check(UpdaterBootable(&kFlash, SLOT_PAGES, &image_size) && image_size == n &&
                memcmp(g_flash, g_image, n) == 0,
            "the image in place and bootable after a cut");
    }
  }
}

static void TestSignedUpdates(const tarn_key* key) {
  static const size_t kSmall = 5 * 1024 + 3;
  static uint8_t spliced[5 * 1024 + 3 + TARN_HEADER_SIZE];
  tarn_public_key signer;
  UpdaterSigning signing;
  uint32_t image_size;
  unsigned boots;
  long ops;
  uint32_t start;
  size_t size, i;
  Check(tarn_public_key_from_text(&signer, kSigningPublicKey, strlen(kSigningPublicKey)) == TARN_OK,
        "the signing key read");
  signing.key = &signer;
  signing.installed_version = 4;
  signing.device = "test-board";
  g_signing = &signing;

  /* Signed, version 5 over 4: cut everywhere, and the version kept for the next update. */
  size = Make(kSmall, key);
  g_signature = kSignedSmall;
  memset(g_flash, 0xFF, sizeof g_flash);
  g_cut_at = -1;
  start = BoardInstructions();
  Check(Update(g_container, size, key, &boots) == TARN_OK, "an uncut signed update");
  BoardWriteNumber("updater: signed, instructions an update of 5 KiB (two signature checks): ",
                   BoardInstructions() - start);
  Check(UpdaterVersion(&kFlash, SLOT_PAGES) == 5, "the signed version kept at boot");
  ops = g_ops;
  CutEverywhere(kSmall, size, key, ops, 1);
  BoardWriteNumber("\nupdater: signed, every cut of a small update: ", (uint32_t)(2 * ops));
  size = Make(BIG, key);
  g_signature = kSignedBig;
  memset(g_flash, 0xFF, sizeof g_flash);
  g_cut_at = -1;
  Check(Update(g_container, size, key, &boots) == TARN_OK, "an uncut signed 100 KiB update");
  ops = g_ops;
  CutEverywhere(BIG, size, key, ops, 53);
  BoardWriteNumber(", 100 KiB: cuts ", (uint32_t)(2 * ((ops + 52) / 53)));
  BoardWriteNumber(" of ", (uint32_t)(2 * ops));
  BoardWrite("\n");

  /* A new update while an image is installed: refused before anything is erased, the
   * installed image still boots; another container's signature, refused at the end. */
  {
    static const struct {
      const char* signature;
      tarn_status want;
    } kRefused[] = {{NULL, TARN_NO_SIGNATURE},
                    {kSignedOlder, TARN_OLDER_VERSION},
                    {kSignedOtherDevice, TARN_OTHER_DEVICE}};
    static Updater u;
    size = Make(kSmall, key);
    memset(g_flash, 0xFF, sizeof g_flash);
    g_cut_at = -1;
    g_signature = kSignedSmall;
    (void)Update(g_container, size, key, &boots);
    for (i = 0; i < sizeof kRefused / sizeof kRefused[0]; ++i) {
      const char* text = kRefused[i].signature;
      Check(UpdaterBegin(&u, &kFlash, SLOT_PAGES, key, &signing, text,
                         text != NULL ? strlen(text) : 0) == kRefused[i].want &&
                UpdaterFeed(&u, g_container, size) == kRefused[i].want &&
                UpdaterFinish(&u) == kRefused[i].want,
            "an unsigned, older or other device's container refused");
      Check(UpdaterBootable(&kFlash, SLOT_PAGES, &image_size) && image_size == kSmall,
            "the installed image still boots after a refused update");
    }
    g_signature = kSignedBig;
    memset(g_flash, 0xFF, sizeof g_flash);
    Check(Update(g_container, size, key, &boots) == TARN_BAD_SIGNATURE,
          "another container's signature refused");
    Check(!UpdaterBootable(&kFlash, SLOT_PAGES, &image_size), "never bootable");
  }

  /* Spliced: the first half of the signed container's payload and the rest of another's under
   * the same key, both CRCs right, with the signed one's signature; with a cut too. */
  {
    static const long kCuts[] = {-1, 9};
    size_t c;
    const size_t half = 8 * 320; /* blocks are independent: a cut at a block's edge */
    tarn_encoder enc;
    size_t written, tail;
    size = Make(kSmall, key);
    for (i = half; i < kSmall; ++i) g_image[i] = (uint8_t)(i * 7u + (i >> 9) + kSmall + 1u);
    (void)tarn_encoder_init(&enc, key);
    (void)tarn_encoder_update(&enc, g_image, kSmall, spliced + TARN_HEADER_SIZE, &written);
    (void)tarn_encoder_finish(&enc, spliced + TARN_HEADER_SIZE + written, &tail, spliced);
    Check(memcmp(spliced + TARN_HEADER_SIZE, g_container + TARN_HEADER_SIZE, half) == 0 &&
              memcmp(spliced + TARN_HEADER_SIZE + half, g_container + TARN_HEADER_SIZE + half,
                     kSmall - half) != 0,
          "a spliced container");
    g_signature = kSignedSmall;
    for (c = 0; c < sizeof kCuts / sizeof kCuts[0]; ++c) {
      memset(g_flash, 0xFF, sizeof g_flash);
      g_cut_at = kCuts[c];
      g_half = 1;
      Check(Update(spliced, size, key, &boots) == TARN_BAD_SIGNATURE,
            "a spliced container refused");
      Check(!UpdaterBootable(&kFlash, SLOT_PAGES, &image_size), "a spliced container never boots");
    }
  }
  g_signing = NULL;
  g_signature = NULL;
}

unsigned TestUpdater(void) {
  tarn_key key, other;
  uint32_t image_size;
  unsigned boots;
  long ops;
  size_t size;
  (void)tarn_key_from_hex("0123456789ABCDEFFEDCBA9876543210", 32, &key);
  (void)tarn_key_from_hex("F38B2FFC80A4DF5A51C9BC701E7EA419", 32, &other);

  /* A small image: its operations counted on an uncut run, then a cut in each. */
  size = Make(5 * 1024 + 3, &key);
  memset(g_flash, 0xFF, sizeof g_flash);
  g_cut_at = -1;
  Check(Update(g_container, size, &key, &boots) == TARN_OK && boots == 1, "an uncut update");
  ops = g_ops;
  CutEverywhere(5 * 1024 + 3, size, &key, ops, 1);
  BoardWriteNumber("updater: every cut of a small update: ", (uint32_t)(2 * ops));

  /* 100 KiB: a sample of the cuts. */
  size = Make(BIG, &key);
  memset(g_flash, 0xFF, sizeof g_flash);
  g_cut_at = -1;
  Check(Update(g_container, size, &key, &boots) == TARN_OK, "an uncut 100 KiB update");
  ops = g_ops;
  CutEverywhere(BIG, size, &key, ops, 53);
  BoardWriteNumber(", 100 KiB: cuts ", (uint32_t)(2 * ((ops + 52) / 53)));
  BoardWriteNumber(" of ", (uint32_t)(2 * ops));
  BoardWrite("\n");

  /* Never bootable: damaged, under another key, cut short, with a cut in the middle too. */
  {
    static const long kCuts[] = {-1, 7, 40};
    size_t c, v;
    size = Make(9 * 1024 + 1, &key);
    for (v = 0; v < 3; ++v) {
      for (c = 0; c < sizeof kCuts / sizeof kCuts[0]; ++c) {
        const tarn_status want = v == 0   ? TARN_PAYLOAD_DAMAGED
                                 : v == 1 ? TARN_IMAGE_MISMATCH
                                          : TARN_WRONG_SIZE;
        memset(g_flash, 0xFF, sizeof g_flash);
        g_cut_at = kCuts[c];
        g_half = 1;
        if (v == 0) g_container[5000] ^= 0x20;
        Check(Update(g_container, v == 2 ? size - 1 : size, v == 1 ? &other : &key, &boots) == want,
              "the verdict on a container that must not boot");
        Check(!UpdaterBootable(&kFlash, SLOT_PAGES, &image_size), "never bootable");
        if (v == 0) g_container[5000] ^= 0x20;
      }
    }
  }
  TestSignedUpdates(&key);
  return g_failed;
}
