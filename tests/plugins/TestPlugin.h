/* The picture format and the probe shared by the test plug-ins and the
 * tests that drive them.
 *
 * An "ORVTEST1" file: the 8-byte magic, then little-endian 32-bit width,
 * height and mode, then width * height pixels of 3 bytes (red, green, blue),
 * rows top to bottom, no padding. The mode tells the plug-in how to hand
 * the picture back, good or hostile.
 *
 * An "ORVARC01" file: the magic, a 32-bit record count, a 32-bit mode, then
 * the member names, each ended by a zero byte. */
#ifndef ORV_TEST_PLUGIN_H
#define ORV_TEST_PLUGIN_H

#include <stdint.h>

#define ORV_TEST_MAGIC "ORVTEST1"
#define ORV_ARC_MAGIC "ORVARC01"
#define ORV_TEST_HEADER_SIZE 20

enum OrvTestMode {
  kModeBottomUp = 0,       /* 24-bit, rows bottom-up, movable blocks */
  kModeTopDown = 1,        /* 24-bit, negative biHeight */
  kModeNoHandles = 2,      /* returns without setting either handle */
  kModeOnlyInfo = 3,       /* header handle set, pixel handle not */
  kModeTinyHeader = 4,     /* header block of 16 bytes */
  kModeShortPixels = 5,    /* pixel block half as large as the rows need */
  kModeAbsurdSize = 6,     /* header claims 100000 x 100000 */
  kModeHugeBiSize = 7,     /* biSize beyond the header block */
  kModePalette8 = 8,       /* 8-bit with a colour table, one index per pixel */
  kModeSameHandle = 9,     /* the same block as header and pixels */
  kModeFixedMemory = 10,   /* GMEM_FIXED blocks instead of movable ones */
  kModeTooManyColors = 11, /* 8-bit, biClrUsed 100000 */
  kModeOnlyPixels = 12,    /* pixel handle set, header handle not */
  kModeBadBitCount = 13,   /* biBitCount 7 */
  kModeRle8 = 14,          /* 8-bit grey as BI_RLE8 runs, biSizeImage exact */
  kModeRle8Overrun = 15,   /* as kModeRle8, biSizeImage beyond the block */
  kModeFaultWrite = 16,    /* GetPicture writes through a null pointer */
  kModeFaultDivide = 17,   /* GetPicture divides an integer by zero */
  kModeFaultIllegal = 18,  /* GetPicture runs an undefined instruction */
  kModeBadHandles = 19,    /* returns handles that name no memory block */
  kModeAskProgress = 20,   /* calls the progress callback per row and stops
                              when it answers non-zero */
  kModeFailKeepBlocks = 21, /* makes a whole, valid picture, then returns 2
                              (error) with both handles set: blocks the host
                              must neither use nor free */
  /* GetPictureInfo answers the header's width and height in every mode but
   * the ones below, where GetPicture decodes as kModeBottomUp unless said. */
  kModeDataBroken = 22,    /* GetPictureInfo answers; GetPicture returns 3
                              (broken data) */
  kModeInfoError = 23,     /* GetPictureInfo returns 2 (error) */
  kModeInfoFault = 24,     /* GetPictureInfo writes through a null pointer */
  kModeInfoNoWidth = 25,   /* GetPictureInfo succeeds with width 0 */
  kModeInfoNegative = 26,  /* GetPictureInfo succeeds with height -height */
  kModeInfoText = 27,      /* GetPictureInfo answers with every field set and
                              a text block in hInfo, which the host frees */
  kModeSlow = 28,          /* GetPicture sleeps a minute, then decodes as
                              kModeBottomUp: a decode that outlives its bound */
  kModeAbort = 29,         /* GetPicture calls abort() */
  kModeThreadFault = 30,   /* GetPicture starts a thread that writes through a
                              null pointer, and waits for it */
  kModeCatchesOwnFault = 31, /* GetPicture probes a bad address with
                              IsBadReadPtr (which faults and catches it), then
                              decodes as kModeBottomUp */
  kModeStackOverflow = 32, /* GetPicture recurses until its stack runs out */
  kModeMemoryHog = 33      /* GetPicture commits and touches 1.5 GB (in 64 MB
                              blocks, as far as it gets), then decodes as
                              kModeBottomUp */
};

/* Archive modes. */
enum OrvArcMode {
  kArcTerminated = 0, /* records followed by an all-zero record */
  kArcExact = 1,      /* exactly the records, no end record */
  kArcRagged = 2,     /* the records plus 100 stray bytes, no end record */
  kArcNoHandle = 3    /* no list handle */
};

/* What the host passed on the latest calls, read by the tests through the
 * extra export OrvTestProbe. */
typedef struct OrvTestProbeData {
  int isSupportedCalls;
  int isSupportedNullName; /* 1 when the last name argument was null */
  int paddingZero;         /* 1 when bytes length..8191 after the image were 0 */
  int getPictureCalls;
  long lastLength;
  unsigned lastFlag;
  int progressNull;
  long lastData;
  int handlesWereNull; /* both handle variables null on entry */
  char lastName[260];  /* the last name IsSupported got, "" for null */
  int progressCalls;   /* calls of the progress callback in kModeAskProgress */
  int stoppedByProgress; /* 1 when the callback asked to stop */
  uintptr_t keptInfo;    /* the blocks of the last kModeFailKeepBlocks call */
  uintptr_t keptPixels;
  int getPictureInfoCalls;
  long lastInfoLength;
  unsigned lastInfoFlag;
  uintptr_t infoText; /* the text block of the last kModeInfoText call */
} OrvTestProbeData;

/* The control state the FPU variant leaves behind after each of its entry
 * points and in DllMain: rounding toward zero and 24-bit precision on the
 * x87, rounding toward zero and flush-to-zero in MXCSR, exceptions still
 * masked so nothing traps inside the test. */
#define ORV_FPU_X87_WORD 0x0C7F
#define ORV_FPU_MXCSR 0xFF80

#endif
