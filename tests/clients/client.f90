! A Fortran caller of the file library: builds a header by name, writes a file, reads it back
! and checks every value through the library. Stops with a non-zero status on any mismatch.
program client
  implicit none
  integer, parameter :: npts = 50
  external newhdr, setfhv, setnhv, setkhv, getfhv, getkhv, getkhvf, wsac0, rsac1
  integer :: nerr, nlen, maxn, i, failures
  real :: y(npts), z(npts + 1), expected(npts), beg, del, val
  character(len=512) :: path
  character(len=10) :: kstnm
  character(len=16) :: kevnm
  character(len=8) :: k8
  character(len=3) :: k3

  failures = 0
  if (command_argument_count() /= 1) stop 2
  call get_command_argument(1, path)

  do i = 1, npts
    y(i) = real(i) * 0.25 - 3.0
  end do
  expected = y

  call newhdr()
  call setnhv('NPTS', npts, nerr)
  call check(nerr == 0, 'set NPTS')
  call setfhv('DELTA', 0.5, nerr)
  call check(nerr == 0, 'set DELTA')
  call setfhv('b', -1.5, nerr)
  call check(nerr == 0, 'set B')
  call setkhv('KSTNM', 'FORTSTA', nerr)
  call check(nerr == 0, 'set KSTNM')
  call setkhv('KEVNM', 'FORTRAN-EVENT', nerr)
  call check(nerr == 0, 'set KEVNM')

  ! The path is blank-padded to 512 characters; the library ignores the blanks.
  call wsac0(path, y, y, nerr)
  call check(nerr == 0, 'wsac0')

  call newhdr()
  maxn = npts + 1
  call rsac1(path, z, nlen, beg, del, maxn, nerr)
  call check(nerr == 0, 'rsac1')
  call check(nlen == npts, 'nlen')
  call check(same(beg, -1.5), 'begin')
  call check(same(del, 0.5), 'interval')
  do i = 1, npts
    call check(same(z(i), expected(i)), 'samples')
  end do

  call getfhv('DEPMIN', val, nerr)
  call check(nerr == 0 .and. same(val, expected(1)), 'DEPMIN')
  call getfhv('DEPMAX', val, nerr)
  call check(nerr == 0 .and. same(val, expected(npts)), 'DEPMAX')
  call getfhv('E', val, nerr)
  call check(nerr == 0 .and. same(val, -1.5 + 49.0 * 0.5), 'E')
  call getkhv('KSTNM', kstnm, nerr)
  call check(nerr == 0 .and. kstnm == 'FORTSTA   ', 'KSTNM')
  call getkhv('KEVNM', kevnm, nerr)
  call check(nerr == 0 .and. kevnm(1:15) == 'FORTRAN-EVENT  ', 'KEVNM')

  ! Fields that fill the text: getkhvf blank-pads or cuts to the length, never a NUL.
  call setkhv('KSTNM', 'WBM', nerr)
  call setkhv('KCMPNM', 'BHZ', nerr)
  call setkhv('KEVNM', 'SIXTEEN-CHARS-EV', nerr)
  call getkhvf('KSTNM', k8, nerr)
  call check(nerr == 0 .and. k8 == 'WBM', 'KSTNM into 8')
  call check(index(k8, achar(0)) == 0, 'no NUL in KSTNM')
  call getkhvf('KCMPNM', k3, nerr)
  call check(nerr == 0 .and. k3 == 'BHZ', 'KCMPNM into 3')
  call getkhvf('KEVNM', kevnm, nerr)
  call check(nerr == 0 .and. kevnm == 'SIXTEEN-CHARS-EV', 'KEVNM into 16')

  if (failures /= 0) stop 1
  print '(a)', 'fortran_client: all values read back'

contains

  ! Values must come back bit for bit.
  logical function same(a, b)
    real, intent(in) :: a, b
    same = transfer(a, 0) == transfer(b, 0)
  end function same

  subroutine check(ok, what)
    logical, intent(in) :: ok
    character(len=*), intent(in) :: what
    if (.not. ok) then
      print '(2a)', 'check failed: ', what
      failures = failures + 1
    end if
  end subroutine check

end program client
