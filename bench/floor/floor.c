/* floor: the least work that turns a multi-page TIFF into one JPEG per page.
 *
 *   floor [-g] [-r] FILE.tif...
 *
 * pelc's per-page time is judged against this program, which does only what the job
 * cannot avoid: one TIFFOpen per file, the directories walked once in file order, each
 * page's scanlines handed straight to libjpeg-turbo (quality 75, 4:2:0, JFIF density from
 * the TIFF resolution, default Huffman tables), no page-sized buffer where scanlines fit.
 *
 *   1-bit and 8-bit one-sample pages, 8-bit contiguous RGB pages, in strips:
 *       TIFFReadScanline, one row at a time, widened in place to RGB triples.
 *   any other page, or every page with -r: TIFFReadRGBAImageOriented into a page raster.
 *   old-style JPEG pages (compression 6): their JPEG bytes are copied, never decoded,
 *       choosing the blocks the way pelc does (see copyOldJpeg).
 *   -g: one-sample pages become one-component greyscale JPEGs (pelc always writes three).
 *
 * Output names match pelc's: <base>_<n>.jpg beside the input, n from 1, zero-padded to the
 * digit count of the page count when that count has 2 to 7 digits.
 * A page that fails prints one line on stderr and the walk goes on; the exit code is 1
 * when any page or file failed.
 */
#define _POSIX_C_SOURCE 200809L
#include <setjmp.h>
#include <stdint.h>
#include <stdio.h> /* before jpeglib.h, which needs FILE and size_t */
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#include <jpeglib.h>
#include <tiffio.h>

static int greyOutput;
static int rgbaForAll;

/* libjpeg's default error_exit ends the process; a benchmark that loses one page must
 * still time the others, so a fatal encoder error unwinds to the page instead. */
struct PageErrors {
    struct jpeg_error_mgr base;
    jmp_buf escape;
};

static void escapePage(j_common_ptr cinfo) {
    longjmp(((struct PageErrors *)cinfo->err)->escape, 1);
}

static void muteMessage(j_common_ptr cinfo) { (void)cinfo; }

static int copyBlock(int in, FILE *out, uint64_t offset, uint64_t length) {
    static unsigned char chunk[1 << 16];
    while (length > 0) {
        size_t want = length < sizeof chunk ? (size_t)length : sizeof chunk;
        ssize_t got = pread(in, chunk, want, (off_t)offset);
        if (got <= 0 || fwrite(chunk, 1, (size_t)got, out) != (size_t)got)
            return -1;
        offset += (uint64_t)got;
        length -= (uint64_t)got;
    }
    return 0;
}

/* The same three layouts pelc copies: the strips alone when there is no interchange block;
 * the block alone when it is exactly as long as a single strip; else the block, then the
 * strips. Copying is what pelc does for these pages, so this is the floor for them. */
static int copyOldJpeg(TIFF *tif, const char *outputName) {
    uint64_t *offsets = NULL, *counts = NULL;
    uint64_t blockOffset = 0, blockLength = 0;
    uint32_t strips = TIFFNumberOfStrips(tif);
    TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets);
    TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts);
    TIFFGetField(tif, TIFFTAG_JPEGIFOFFSET, &blockOffset);
    TIFFGetField(tif, TIFFTAG_JPEGIFBYTECOUNT, &blockLength);

    FILE *out = fopen(outputName, "wb");
    if (!out)
        return -1;
    int in = TIFFFileno(tif);
    int status = 0;
    int blockOnly = blockOffset != 0 && strips == 1 && counts && counts[0] == blockLength;
    if (blockOffset != 0)
        status = copyBlock(in, out, blockOffset, blockLength);
    if (!blockOnly && offsets && counts)
        for (uint32_t s = 0; status == 0 && s < strips; s++)
            status = copyBlock(in, out, offsets[s], counts[s]);
    if (fclose(out) != 0)
        status = -1;
    return status;
}

struct PageShape {
    uint32_t width, height;
    uint16_t bitsPerSample, samplesPerPixel, planar, photometric, resolutionUnit;
    float xResolution, yResolution;
    int bilevel, grey8, rgb8, byScanline, components;
};

static struct PageShape readShape(TIFF *tif) {
    struct PageShape s;
    memset(&s, 0, sizeof s);
    s.bitsPerSample = 1;
    s.samplesPerPixel = 1;
    s.planar = PLANARCONFIG_CONTIG;
    s.resolutionUnit = RESUNIT_INCH;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &s.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &s.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &s.bitsPerSample);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &s.samplesPerPixel);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &s.planar);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &s.photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &s.resolutionUnit);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &s.xResolution);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &s.yResolution);

    int oneSample = s.samplesPerPixel == 1;
    s.bilevel = oneSample && s.bitsPerSample == 1 && s.photometric <= PHOTOMETRIC_MINISBLACK;
    s.grey8 = oneSample && s.bitsPerSample == 8 && s.photometric <= PHOTOMETRIC_MINISBLACK;
    s.rgb8 = s.samplesPerPixel == 3 && s.bitsPerSample == 8 && s.photometric == PHOTOMETRIC_RGB &&
             s.planar == PLANARCONFIG_CONTIG;
    s.byScanline = !rgbaForAll && !TIFFIsTiled(tif) && (s.bilevel || s.grey8 || s.rgb8);
    s.components = s.byScanline && oneSample && greyOutput ? 1 : 3;
    return s;
}

/* Fills one RGB (or grey) row for the encoder. Returns -1 when libtiff cannot read it;
 * the row then keeps whatever it held, so the JPEG still completes. */
static int fillRow(TIFF *tif, const struct PageShape *s, uint32_t y, const uint32_t *raster,
                   unsigned char *bits, unsigned char *row) {
    if (!s->byScanline) {
        const uint32_t *pixel = raster + (size_t)y * s->width;
        for (uint32_t x = 0; x < s->width; x++) {
            row[3 * x] = (unsigned char)TIFFGetR(pixel[x]);
            row[3 * x + 1] = (unsigned char)TIFFGetG(pixel[x]);
            row[3 * x + 2] = (unsigned char)TIFFGetB(pixel[x]);
        }
        return 0;
    }
    if (TIFFReadScanline(tif, s->bilevel ? bits : row, y, 0) < 0)
        return -1;
    if (s->bilevel) {
        /* A set bit is black when 0 means white, white when 0 means black. */
        unsigned char set = s->photometric == PHOTOMETRIC_MINISWHITE ? 0 : 255;
        for (uint32_t x = 0; x < s->width; x++)
            row[x] = (bits[x >> 3] >> (7 - (x & 7)) & 1) ? set : (unsigned char)~set;
    } else if (s->grey8 && s->photometric == PHOTOMETRIC_MINISWHITE) {
        for (uint32_t x = 0; x < s->width; x++)
            row[x] = (unsigned char)~row[x];
    }
    if (s->samplesPerPixel == 1 && s->components == 3)
        for (uint32_t x = s->width; x-- > 0;) /* from the end, so the widening stays in place */
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = row[x];
    return 0;
}

/* Holds only plain data across setjmp, and frees it itself: the longjmp skips nothing that
 * owns a resource it does not know about. */
static int encodePage(TIFF *tif, const char *outputName) {
    struct PageShape s = readShape(tif);
    if (s.width == 0 || s.height == 0)
        return -1;
    struct jpeg_compress_struct cinfo;
    struct PageErrors errors;
    unsigned char *volatile bits = NULL;
    unsigned char *volatile row = NULL;
    uint32_t *volatile raster = NULL;
    FILE *volatile out = NULL;
    volatile int status = 0;

    cinfo.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = escapePage;
    errors.base.output_message = muteMessage;
    if (setjmp(errors.escape)) {
        status = -1;
        goto done;
    }
    jpeg_create_compress(&cinfo);

    if (s.byScanline && s.bilevel)
        bits = malloc((size_t)TIFFScanlineSize(tif));
    row = malloc((size_t)s.width * 3); /* 8-bit scanlines land here and widen in place */
    if (!s.byScanline)
        raster = malloc((size_t)s.width * s.height * sizeof(uint32_t));
    if ((s.byScanline && s.bilevel && !bits) || !row || (!s.byScanline && !raster)) {
        status = -1;
        goto done;
    }
    if (!s.byScanline &&
        !TIFFReadRGBAImageOriented(tif, s.width, s.height, raster, ORIENTATION_TOPLEFT, 0)) {
        status = -1;
        goto done;
    }
    out = fopen(outputName, "wb");
    if (!out) {
        status = -1;
        goto done;
    }
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = s.width;
    cinfo.image_height = s.height;
    cinfo.input_components = s.components;
    cinfo.in_color_space = s.components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 75, TRUE);
    if ((s.resolutionUnit == RESUNIT_INCH || s.resolutionUnit == RESUNIT_CENTIMETER) &&
        s.xResolution > 0 && s.yResolution > 0 && s.xResolution < 65535 &&
        s.yResolution < 65535) {
        cinfo.density_unit = s.resolutionUnit == RESUNIT_INCH ? 1 : 2;
        cinfo.X_density = (UINT16)(s.xResolution + 0.5f);
        cinfo.Y_density = (UINT16)(s.yResolution + 0.5f);
    }
    jpeg_start_compress(&cinfo, TRUE);
    for (uint32_t y = 0; y < s.height; y++) {
        if (fillRow(tif, &s, y, raster, bits, row) != 0)
            status = -1;
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);

done:
    jpeg_destroy_compress(&cinfo);
    if (out && fclose(out) != 0)
        status = -1;
    free(bits);
    free(row);
    free(raster);
    return status;
}

static int convertFile(const char *path) {
    TIFF *tif = TIFFOpen(path, "r");
    if (!tif) {
        fprintf(stderr, "%s: cannot open\n", path);
        return 1;
    }
    int pages = TIFFNumberOfDirectories(tif);
    int digits = snprintf(NULL, 0, "%d", pages);
    int padding = digits >= 2 && digits <= 7 ? digits : 0;
    const char *slash = strrchr(path, '/');
    const char *dot = strrchr(path, '.');
    size_t baseLength = dot && (!slash || dot > slash) ? (size_t)(dot - path) : strlen(path);
    size_t nameSize = baseLength + 32;
    char *name = malloc(nameSize);
    if (!name) {
        TIFFClose(tif);
        return 1;
    }
    int failed = 0;
    int page = 0;
    do {
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
        snprintf(name, nameSize, "%.*s_%0*d.jpg", (int)baseLength, path, padding, ++page);
        int status = compression == COMPRESSION_OJPEG ? copyOldJpeg(tif, name)
                                                      : encodePage(tif, name);
        if (status != 0) {
            fprintf(stderr, "%s: page %d failed\n", path, page);
            failed = 1;
        }
    } while (TIFFReadDirectory(tif));
    free(name);
    TIFFClose(tif);
    return failed;
}

int main(int argc, char **argv) {
    int option;
    while ((option = getopt(argc, argv, "gr")) != -1) {
        if (option == 'g')
            greyOutput = 1;
        else if (option == 'r')
            rgbaForAll = 1;
        else {
            fprintf(stderr, "usage: %s [-g] [-r] FILE.tif...\n", argv[0]);
            return 2;
        }
    }
    /* Old-style JPEG files warn on every directory; the copy needs none of that. */
    TIFFSetWarningHandler(NULL);
    int failed = 0;
    for (int i = optind; i < argc; i++)
        failed |= convertFile(argv[i]);
    return failed;
}
