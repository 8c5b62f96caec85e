! An outside Fortran program calling the image library as such programs do:
! plain external calls, arguments by reference, blank-padded file names.
program client
  use iso_c_binding, only: c_char, c_int, c_null_char
  implicit none
  interface
    integer(c_int) function cindex(a, c) bind(c, name='index')
      import :: c_char, c_int
      character(kind=c_char), dimension(*) :: a
      integer(c_int), value :: c
    end function cindex
  end interface
  external fdate, usrid, readfits, writefits, filesize, tvread, tvwrite, dispdot, wtn
  character(len=80) :: fname = 'client.fit', missing = 'no_such_frame.fit'
  character(len=2880) :: hdr = ' '
  character(len=24) :: pix
  character(len=8) :: got8
  character(len=26) :: stamp
  character(len=64) :: who = ' '
  integer(kind=2) :: img(12)
  integer :: n1, n2, flen, i, v, nfail = 0
  real :: grid(8, 4), orig(8, 4)

  ! A 4 x 3 frame of big-endian 16-bit pixels, header and data in two pieces.
  hdr(1:400) = 'SIMPLE  =                    T' // repeat(' ', 50) // &
               'BITPIX  =                   16' // repeat(' ', 50) // &
               'NAXIS1  =                    4' // repeat(' ', 50) // &
               'NAXIS2  =                    3' // repeat(' ', 50) // 'END'
  do i = 1, 12
    v = modulo(i * 1000 - 3500, 65536)
    pix(2*i-1:2*i) = achar(v / 256) // achar(mod(v, 256))
  end do
  call writefits(fname, hdr, 2880, 1)
  call writefits(fname, pix, 24, 0)
  call filesize(fname, flen)
  call check(flen == 2904, 'filesize')
  call readfits(fname, img, n1, n2)
  call check(n1 == 4 .and. n2 == 3 .and. all(img == [(i * 1000 - 3500, i = 1, 12)]), 'readfits')
  call readfits(missing, img, n1, n2)
  call check(n1 == 0 .and. n2 == 0, 'readfits of a missing file')

  call tvwrite(fname, 'WXYZ', 4, 2884)
  call tvread(fname, got8, 8, 2880)
  call check(got8 == pix(1:4) // 'WXYZ', 'tvwrite and tvread in place')

  call fdate(stamp)
  call check(stamp(4:4) == ' ' .and. stamp(14:14) == ':' .and. stamp(25:26) == achar(10) // achar(0), &
             'fdate')
  call usrid(who)
  call check(who(1:12) == 'observer--- ' .and. who(33:33) == achar(10), 'usrid')
  call check(cindex('abc' // c_null_char, ichar('c')) == 2, 'index')

  grid = reshape([(real(mod(i * 7, 11)) - 2.5, i = 1, 32)], [8, 4])
  orig = grid
  call wtn(grid, 8, 4, 1)
  call check(maxval(abs(grid - orig)) > 0.1, 'wtn forward')
  call wtn(grid, 8, 4, -1)
  call check(maxval(abs(grid - orig)) < 1.0e-4, 'wtn inverse')

  call dispdot()
  print '(/a)', merge('all checks passed', 'checks FAILED    ', nfail == 0)

contains

  subroutine check(ok, what)
    logical, intent(in) :: ok
    character(len=*), intent(in) :: what
    if (.not. ok) then
      print '(2a)', 'FAILED: ', what
      nfail = nfail + 1
    end if
  end subroutine check

end program client
