/* An outside program in C, written from the library's catalogue: every
 * routine called with the argument types the catalogue gives (card arrays
 * char head[][80], short map[101][101], float or long arrays for swap4, ...).
 * It is compiled with -Wall -Wextra -Werror, so a prototype that does not
 * take the documented types fails the build.
 *
 * It wants the library's own index, so it does not include <string.h> or
 * <strings.h> and links the object pgc_index. */
#define _DEFAULT_SOURCE
#define PGC_DECLARE_INDEX
#include "pgc.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static int failures;

static void check(int ok, const char* what) {
    if (!ok) {
        printf("FAILED: %s\n", what);
        ++failures;
    }
}

static int same(const void* a, const void* b, int n) {
    const unsigned char* p = a;
    const unsigned char* q = b;
    for (int i = 0; i < n; ++i)
        if (p[i] != q[i]) return 0;
    return 1;
}

/* One header card: text, blank-padded to 80 characters. */
static void put_card(char card[80], const char* text) {
    int i = 0;
    for (; text[i] != '\0' && i < 80; ++i) card[i] = text[i];
    for (; i < 80; ++i) card[i] = ' ';
}

static char head[72][80];
static short map[101][101];
static int ihist[PGC_HIST_BINS];
static short sky[64][64];
static float row[3][2048];

int main(void) {
    char dir[] = "/tmp/pgc_c_client.XXXXXX";
    if (mkdtemp(dir) == NULL || chdir(dir) != 0) {
        puts("FAILED: no scratch directory");
        return 1;
    }

    /* Cards: the documented card array and a plain buffer of the same cards. */
    for (int j = 0; j < 72; ++j) put_card(head[j], "");
    put_card(head[0], "SIMPLE  =                    T");
    put_card(head[1], "BITPIX  =                   16");
    put_card(head[2], "NAXIS1  =                    4");
    put_card(head[3], "NAXIS2  =                    3");
    put_card(head[4], "END");
    const char f1[8] = {'E', 'N', 'D', ' ', ' ', ' ', ' ', ' '};
    const char* plain = &head[0][0];
    check(indexpos(head, f1, 72) == 4 && indexpos(plain, f1, 36) == 4, "indexpos");
    check(c_indexpos(head, "NAXIS1  ") == 2 && c_indexpos(plain, "OBJECT  ") == 72, "c_indexpos");
    check(index("abc", 'c') == 2 && nindex("abcabc", "ca") == 2, "index and nindex");

    float fa[1] = {1.5f};
    const unsigned char one_and_a_half[4] = {0x3F, 0xC0, 0x00, 0x00};
    swap4(fa, (int)sizeof fa);
    long la[1] = {-7L};
    swap4(la, (int)sizeof la);
    swap4(la, (int)sizeof la);
    short sa[1] = {0x0102};
    swap2(sa, (int)sizeof sa);
    check(same(fa, one_and_a_half, 4) && la[0] == -7L && sa[0] == 0x0201, "swap4 and swap2");

    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) sky[y][x] = (short)(1000 + (x + y) % 3 - 1);
    float peak = 0, sigm = 0;
    white_black(&sky[0][0], 64, 64, &peak, &sigm);
    ihist[200] = 100;
    float xpeak = 0, sigma = 0;
    histat(ihist, &xpeak, &sigma, PGC_HIST_BINS - 1);
    check(peak > 999.0f && peak < 1001.0f && xpeak == 199.0f, "white_black and histat");

    float pl = -1, pb = -1, hours = 12.5f;
    ad_lb(0.0, 0.0, &pl, &pb);
    char cc[12], user[128], date[26];
    toms(hours, cc, 1);
    usrid_(user);
    fdate_(date);
    check(pl == 0.0f && same(cc, " 12:30:00.0", 12) && date[24] == '\n', "ad_lb, toms, fdate_");

    /* A frame written piece by piece, then read, rewritten and measured. */
    const char* name = "c_client.fit";
    int len = 2880, create = 1, append = 0, flen = 0;
    writefits_(name, head, &len, &create);
    const unsigned char pixels[24] = {0, 1, 0, 2, 0, 3, 0, 4,  0, 5,  0, 6,
                                      0, 7, 0, 8, 0, 9, 0, 10, 0, 11, 0, 12};
    len = 24;
    writefits_(name, pixels, &len, &append);
    filesize_(name, &flen);
    check(flen == 2904 && file_size(name) == 2904, "filesize_ and file_size");
    short img[12];
    int n1 = 0, n2 = 0;
    readfits_(name, img, &n1, &n2);
    check(n1 == 4 && n2 == 3 && img[0] == 1 && img[11] == 12, "readfits_");

    char two_blocks[72][80];
    for (int j = 0; j < 72; ++j) put_card(two_blocks[j], "COMMENT  rewritten");
    len = 5760;
    writefits_(name, two_blocks, &len, &append); /* room for a 72-card header */
    tvcoordc_(name, two_blocks);
    char back[80];
    int pos = 71 * 80;
    len = 80;
    tvread_(name, back, &len, &pos);
    check(same(back, two_blocks[71], 80), "tvcoordc_ and tvread_");
    tvwrite_(name, "WXYZ", &(int){4}, &(int){2});
    tvread_(name, back, &(int){6}, &(int){0});
    check(same(back, "COWXYZ", 6), "tvwrite_ in place");

    /* A float image with rows of 2048 behind a one-block header; readc_
     * fills the caller's short map[101][101]. */
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 2048; ++c) row[r][c] = (float)(4 * (r * 2048 + c));
    swap4(row, (int)sizeof row);
    put_card(head[1], "BITPIX  =                  -32");
    len = 2880;
    writefits_("window.fit", head, &len, &create);
    len = (int)sizeof row;
    writefits_("window.fit", row, &len, &append);
    int ix = 60, iy = 50;
    readc_("window.fit", map, &ix, &iy);
    check(map[0][0] == 32767 && map[1][0] == 9 && map[2][100] == 2048 + 109 && map[4][0] == 32767,
          "readc_");

    dispdot_();
    mokel_();
    unlink(name);
    unlink("window.fit");
    rmdir(dir);
    if (failures != 0) return 1;
    stop("all checks passed");
    return 0;
}
