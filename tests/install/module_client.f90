! A Fortran caller of the installed file library through its module: builds a header by name,
! writes a file, reads it back and checks every value. Stops with a non-zero status on any
! mismatch.
program module_client
  use, intrinsic :: iso_c_binding, only: c_float, c_int
  use xcnsacio
  implicit none
  integer(c_int), parameter :: npts = 40
  integer(c_int) :: nerr, nlen, maxn, i, failures
  real(c_float) :: y(npts), z(npts + 1), expected(npts), beg, del, val
  character(len=512) :: path
  character(len=10) :: kstnm
  character(len=18) :: kevnm
  character(len=16) :: k16
  character(len=8) :: k8
  character(len=3) :: k3

  failures = 0
  if (command_argument_count() /= 1) stop 2
  call get_command_argument(1, path)

  do i = 1, npts
    y(i) = real(i, c_float) * 0.125 - 2.0
  end do
  expected = y

  call newhdr()
  call setnhv('NPTS', npts, nerr, 4)
  call check(nerr == SACIO_OK, 'set NPTS')
  call setfhv('DELTA', 0.25, nerr, 5)
  call check(nerr == SACIO_OK, 'set DELTA')
  call setfhv('B', 10.0, nerr, 1)
  call check(nerr == SACIO_OK, 'set B')
  call setkhv('KSTNM', 'MODSTA', nerr, 5, 6)
  call check(nerr == SACIO_OK, 'set KSTNM')
  call setkhv('KEVNM', 'MODULE-EVENT', nerr, 5, 12)
  call check(nerr == SACIO_OK, 'set KEVNM')

  ! The path is blank-padded to 512 characters; the library ignores the blanks.
  call wsac0(path, y, y, nerr, len(path))
  call check(nerr == SACIO_OK, 'wsac0')

  call newhdr()
  maxn = npts + 1
  call rsac1(path, z, nlen, beg, del, maxn, nerr, len(path))
  call check(nerr == SACIO_OK, 'rsac1')
  call check(nlen == npts, 'nlen')
  call check(same(beg, 10.0), 'begin')
  call check(same(del, 0.25), 'interval')
  do i = 1, npts
    call check(same(z(i), expected(i)), 'samples')
  end do

  call getfhv('DEPMAX', val, nerr, 6)
  call check(nerr == SACIO_OK .and. same(val, expected(npts)), 'DEPMAX')
  call getfhv('E', val, nerr, 1)
  call check(nerr == SACIO_OK .and. same(val, 10.0 + 39.0 * 0.25), 'E')
  call getkhv('KSTNM', kstnm, nerr, 5, len(kstnm))
  call check(nerr == SACIO_OK .and. kstnm == 'MODSTA    ', 'KSTNM')
  call getkhv('KEVNM', kevnm, nerr, 5, len(kevnm))
  call check(nerr == SACIO_OK .and. kevnm == 'MODULE-EVENT', 'KEVNM')

  ! Texts as long as the field, or shorter: blank-padded or cut, never a NUL.
  call setkhv('KSTNM', 'WBM', nerr, 5, 3)
  call setkhv('KCMPNM', 'BHZ', nerr, 6, 3)
  call setkhv('KEVNM', 'SIXTEEN-CHARS-EV', nerr, 5, 16)
  call getkhv('KSTNM', k8, nerr, 5, len(k8))
  call check(nerr == SACIO_OK .and. k8 == 'WBM' .and. index(k8, achar(0)) == 0, 'KSTNM into 8')
  call getkhv('KCMPNM', k3, nerr, 6, len(k3))
  call check(nerr == SACIO_OK .and. k3 == 'BHZ', 'KCMPNM into 3')
  call getkhv('KEVNM', k16, nerr, 5, len(k16))
  call check(nerr == SACIO_OK .and. k16 == 'SIXTEEN-CHARS-EV', 'KEVNM into 16')

  ! The module's error numbers are the library's.
  call sac_warning_off()
  call getfhv('DIST', val, nerr, 4)
  call check(nerr == SACIO_WARN_UNDEFINED, 'undefined DIST')
  call getfhv('NOSUCH', val, nerr, 6)
  call check(nerr == SACIO_ERR_NO_FIELD, 'unknown field')
  call sac_error_off()
  call rsac1('no-such-file.sac', z, nlen, beg, del, maxn, nerr, 16)
  call check(nerr == SACIO_ERR_NO_FILE, 'missing file')

  if (failures /= 0) stop 1
  print '(a)', 'module_client: all values read back'

contains

  ! Values must come back bit for bit.
  logical function same(a, b)
    real(c_float), intent(in) :: a, b
    same = transfer(a, 0_c_int) == transfer(b, 0_c_int)
  end function same

  subroutine check(ok, what)
    logical, intent(in) :: ok
    character(len=*), intent(in) :: what
    if (.not. ok) then
      print '(2a)', 'check failed: ', what
      failures = failures + 1
    end if
  end subroutine check

end program module_client
