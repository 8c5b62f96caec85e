! An outside Fortran program using the image library the way such programs
! always have: plain external calls, arguments by reference, blank-padded
! character variables for file names.
program client
  use iso_c_binding, only: c_char, c_int, c_null_char
  implicit none
  interface
    ! The library's index keeps C's conventions: a string and a character
    ! by value.
    integer(c_int) function cindex(a, c) bind(c, name='index')
      import :: c_char, c_int
      character(kind=c_char), dimension(*) :: a
      integer(c_int), value :: c
    end function cindex
  end interface
  external fdate, usrid, readfits, writefits, filesize, tvread, tvwrite, tvcoordc, dispdot, wtn

  character(len=80) :: fname, missing
  character(len=2880) :: hdr
  character(len=5760) :: head2
  character(len=24) :: pix
  character(len=8) :: got8
  character(len=26) :: stamp
  character(len=64) :: who
  integer(kind=2) :: img(12)
  integer :: n1, n2, flen, i, j, v, nfail
  real :: grid(8, 4), orig(8, 4)

  nfail = 0
  fname = 'client.fit'
  missing = 'no_such_frame.fit'

  ! A 4 x 3 frame of 16-bit pixels, header in one block, written piece by piece.
  hdr = ' '
  call card(hdr, 1, 'SIMPLE  =                    T')
  call card(hdr, 2, 'BITPIX  =                   16')
  call card(hdr, 3, 'NAXIS   =                    2')
  call card(hdr, 4, 'NAXIS1  =                    4')
  call card(hdr, 5, 'NAXIS2  =                    3')
  call card(hdr, 6, 'END')
  do i = 1, 12
    v = i * 1000 - 3500
    if (v < 0) v = v + 65536
    pix(2*i-1:2*i-1) = achar(v / 256)
    pix(2*i:2*i) = achar(mod(v, 256))
  end do
  call writefits(fname, hdr, 2880, 1)
  call writefits(fname, pix, 24, 0)

  call filesize(fname, flen)
  call check(flen == 2904, 'filesize of the written frame')

  call readfits(fname, img, n1, n2)
  call check(n1 == 4 .and. n2 == 3, 'readfits sizes')
  do i = 1, 12
    call check(img(i) == i * 1000 - 3500, 'readfits pixel in host order')
  end do

  call readfits(missing, img, n1, n2)
  call check(n1 == 0 .and. n2 == 0, 'readfits of a missing file gives 0, 0')
  call filesize(missing, flen)
  call check(flen == 0, 'filesize of a missing file')

  call tvread(fname, got8, 8, 2880)
  call check(got8 == pix(1:8), 'tvread at an offset')
  call tvwrite(fname, 'WXYZ', 4, 2884)
  call tvread(fname, got8, 8, 2880)
  call check(got8 == pix(1:4)//'WXYZ', 'tvwrite in place')
  call filesize(fname, flen)
  call check(flen == 2904, 'tvwrite keeps the size')

  ! A two-block header replaced in place.
  head2 = repeat('H', 5760)
  call writefits(fname, head2, 5760, 1)
  head2(1:80) = 'SIMPLE  =                    T'
  call tvcoordc(fname, head2)
  call tvread(fname, got8, 8, 0)
  call check(got8 == 'SIMPLE  ', 'tvcoordc writes the header')
  call tvread(fname, got8, 8, 5752)
  call check(got8 == 'HHHHHHHH', 'tvcoordc keeps the size')

  call fdate(stamp)
  call check(stamp(4:4) == ' ' .and. stamp(8:8) == ' ' .and. stamp(14:14) == ':' .and. &
             stamp(17:17) == ':' .and. stamp(25:25) == achar(10) .and. stamp(26:26) == achar(0), &
             'fdate gives the asctime text')

  who = ' '
  call usrid(who)
  call check(who(1:11) == 'observer---' .and. who(12:12) == ' ' .and. who(33:33) == achar(10), &
             'usrid gives USER and the stamp')

  call check(cindex('abc'//c_null_char, ichar('c')) == 2, 'index finds c in abc')
  call check(cindex('abc'//c_null_char, ichar('x')) == -1, 'index reports x as -1')

  ! The wavelet transform forth and back restores the array.
  do j = 1, 4
    do i = 1, 8
      grid(i, j) = real(mod(i * 7 + j * 3, 11)) - 2.5
    end do
  end do
  orig = grid
  call wtn(grid, 8, 4, 1)
  call check(maxval(abs(grid - orig)) > 0.1, 'wtn forward changes the array')
  call wtn(grid, 8, 4, -1)
  call check(maxval(abs(grid - orig)) < 1.0e-4, 'wtn inverse restores the array')

  call dispdot()
  print '(a)', ''
  if (nfail == 0) then
    print '(a)', 'all checks passed'
  else
    print '(i0,a)', nfail, ' checks FAILED'
  end if

contains

  subroutine card(h, j, text)
    character(len=*), intent(inout) :: h
    integer, intent(in) :: j
    character(len=*), intent(in) :: text
    h(80*(j-1)+1:80*j) = text
  end subroutine card

  subroutine check(ok, what)
    logical, intent(in) :: ok
    character(len=*), intent(in) :: what
    if (.not. ok) then
      print '(2a)', 'FAILED: ', what
      nfail = nfail + 1
    end if
  end subroutine check

end program client
