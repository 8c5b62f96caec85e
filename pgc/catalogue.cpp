// The library's catalogue of routines, printed for whoever links it.
#include "header_utils.h"

#include <cstdio>

namespace {

// Printed as stored. C entries put their note in column 36, Fortran entries
// pad their note out to a 62-character line.
const char* const catalogue[] = {
    "\n********** C subroutine ***************************\n",
    "long file_size(name)               char *name; size in bytes, 0=none\n",
    "int  index(a,c)                    char *a,c; first c in a, -1=none\n",
    "int  nindex(a,b)                   char *a,*b; first b in a, -1=none\n",
    "void stop(s)                       char *s; print s and exit(0)\n",
    "int  indexpos( head,f1,n )         char head[][80],f1[8]\n",
    "                                   int n; (input, 36 or 72..)\n",
    "int  c_indexpos(head,f1);          return 0--72\n",
    "void swap4( a,nbyte )              float a[] or long a[]; int n\n",
    "void swap2( a,nbyte )              short a[]; int n\n",
    "void white_black(map,n1,n2,peak,sigm)\n",
    "void histat(ihist,xpeak,sigma,n)   int ihist[]; mode and width\n",
    "void ad_lb(al4,de4,pl,pb)          ra,dec (rad) to l,b (deg)\n",
    "void toms(aa,cc,k)                 float aa; char cc[12]; k=1,0,2\n",
    "void usrid_(a)                     char a[]; USER---date\n",
    "void fdate_(a)                     char a[26]; asctime text\n",
    "void filesize_(name,flen)          char name[]; int flen (bytes)\n",
    "void tvcoordc_(f1,a)               write a[72][80] to fits_head\n",
    "void tvread_(f1,a,len,pos)         read a[len] at byte pos\n",
    "void tvwrite_(f1,a,len,pos)        write a[len] at byte pos\n",
    "void dispdot_()                    print . (progress)\n",
    "void readfits_(f1,a,n1,n2)         read fits image; n1=n2=0 error\n",
    "void readc_(f1,map,ix,iy)          short map[101][101]; 0.25*pixel\n",
    "\n************* Fortran routine ***********\n",
    "pgxgray(a,n1,n2,lo,hi)            grey image between lo and hi\n",
    "pgximage(a,n1,n2,lo,hi)                image with given levels\n",
    "pgximage0(a,n1,n2)                   image with its own levels\n",
    "pgxchinese(x,y,text)                       chinese text at x,y\n",
    "turnx2(a,n1,n2)                          turn image by 180 deg\n",
    "readxfile(f1,a,n1,n2)               read fits file, n1=0 error\n",
    "whitexblack(a,n1,n2,peak,sigma)           background and width\n",
    "histat(ih,n,xpeak,sigma)                     mode of histogram\n",
    "parbol(a,n,xpeak,sigma)                    least 2, up to x**4\n",
    "toms(a,c,k)              r_a, c*12_a, k=1 for hour; =0 for deg\n",
    "itohd(i,c)                                     integer to text\n",
    "astprs(ra,dec,ep1,ep2)                   precession ep1 to ep2\n",
    "standc(ra,dec,ra0,de0,x,y)                standard coordinates\n",
    "astand(x,y,ra0,de0,ra,dec)                   inverse of standc\n",
    "xytoad(x,y,ra,dec)                         plate x,y to ra,dec\n",
    "plate(n,x,y,ra,dec,c)               plate constants, least sq.\n",
    "slove(a,b,n) or solve8(a,b)                   linear equations\n",
    "correct216(a,n1,n2)                          16-bit to 2 bytes\n",
    "swap2(a,n), swap4(a,n)                              byte order\n",
    "lnblnk(c)                                  last non-blank char\n",
    "unlink(f1)                                         remove file\n",
    "iand(i,j), ior(i,j), inot(i)                  bit and, or, not\n",
};

} // namespace

extern "C" void mokel_(void) {
    for (const char* line : catalogue) std::fputs(line, stdout);
}
