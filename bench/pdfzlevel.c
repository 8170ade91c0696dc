/* Sets the deflate level of Qt's PDF engine, to measure what the page
 * compression costs against the file size. Qt asks zlib for its default
 * level (6) and offers no setting, so this is preloaded into a bench run:
 *
 *   cc -shared -fPIC -O2 -o pdfzlevel.so bench/pdfzlevel.c -ldl -lz
 *   PDF_ZLEVEL=1 LD_PRELOAD=$PWD/pdfzlevel.so \
 *     build-bench/bin/bench_orderpdf_rows 5000 50 /tmp/o.pdf "" 5
 *
 * Without PDF_ZLEVEL the level stays zlib's default. Not part of any build. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <zlib.h>

static int level(void)
{
    const char *text = getenv("PDF_ZLEVEL");
    return text ? atoi(text) : Z_DEFAULT_COMPRESSION;
}

/* Page and image streams go through deflateInit; small objects through compress. */
int deflateInit_(z_streamp stream, int requested, const char *version, int size)
{
    (void)requested;
    return deflateInit2_(stream, level(), Z_DEFLATED, MAX_WBITS, 8, Z_DEFAULT_STRATEGY, version, size);
}

int compress(Bytef *dest, uLongf *destLen, const Bytef *source, uLong sourceLen)
{
    return compress2(dest, destLen, source, sourceLen, level());
}
