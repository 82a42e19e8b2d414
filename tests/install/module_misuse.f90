! Must not compile: calls that disagree with the module's interfaces, a real where nerr is an
! integer and a text without its length.
program module_misuse
  use xcnsacio
  implicit none
  real :: nerr
  integer :: status
  call newhdr()
  call setfhv('DELTA', 0.5, nerr, 5)
  call rsach('file.sac', status)
end program module_misuse
