! The Fortran interface of the xcorrnet SAC file library: `use xcnsacio`.
!
! Explicit bind(C) interfaces to the C routines of sacio.h and switches.h, so that the compiler
! checks the number, type and intent of every argument. Each text argument is followed, after
! the other arguments, by its length, passed by value; pass len(text) for a blank-padded text
! (trailing blanks of names are ignored). The routines keep their C names; the library also
! exports them with _ and __ for callers that declare them `external`.
!
! Compile with -I<prefix>/include/xcorrnet; link with -lxcnsacio. The compiled module
! (xcnsacio.mod) serves only the compiler version that wrote it; compile this file again for
! another one.
module xcnsacio
  use, intrinsic :: iso_c_binding, only: c_char, c_float, c_int
  implicit none
  private
  public :: inihdr, newhdr, getfhv, setfhv, setnhv, getkhv, setkhv, rsac1, rsach, wsac0, wsac3
  public :: zopenc, znfilef
  public :: sac_error_stdout, sac_error_stderr, sac_error_off
  public :: sac_warning_stdout, sac_warning_stderr, sac_warning_off
  public :: sac_output_stdout, sac_output_stderr, sac_output_off

  ! Error numbers returned in nerr, as in sacio.h: positive a failure, negative a remark.
  integer(c_int), parameter, public :: SACIO_OK = 0
  integer(c_int), parameter, public :: SACIO_ERR_OPEN = 101
  integer(c_int), parameter, public :: SACIO_ERR_NO_FILE = 108
  integer(c_int), parameter, public :: SACIO_ERR_SHORT_READ = 114
  integer(c_int), parameter, public :: SACIO_ERR_WRITE = 115
  integer(c_int), parameter, public :: SACIO_ERR_NOT_EVEN = 801
  integer(c_int), parameter, public :: SACIO_WARN_TRUNCATED = -803
  integer(c_int), parameter, public :: SACIO_ERR_DISTANCE = 904
  integer(c_int), parameter, public :: SACIO_ERR_NO_OVERWRITE = 1303
  integer(c_int), parameter, public :: SACIO_ERR_NOT_SAC = 1317
  integer(c_int), parameter, public :: SACIO_ERR_BAD_VERSION = 1318
  integer(c_int), parameter, public :: SACIO_WARN_UNDEFINED = 1336
  integer(c_int), parameter, public :: SACIO_ERR_NO_FIELD = 1337
  integer(c_int), parameter, public :: SACIO_ERR_NULL_ARGUMENT = 1338
  integer(c_int), parameter, public :: SACIO_ERR_NAME_NUL = 1339
  integer(c_int), parameter, public :: SACIO_ERR_SMALL_BUFFER = 1340

  interface

    ! Sets the library's constants.
    subroutine inihdr() bind(C, name='inihdr')
    end subroutine inihdr

    ! Resets the current header: every field undefined, NVHDR 6, LEVEN, LOVROK, LCALDA true.
    subroutine newhdr() bind(C, name='newhdr')
    end subroutine newhdr

    ! A float field by name; an undefined field gives -12345.0 and nerr 1336.
    subroutine getfhv(kname, fvalue, nerr, kname_len) bind(C, name='getfhv')
      import :: c_char, c_float, c_int
      character(kind=c_char), intent(in) :: kname(*)
      real(c_float), intent(out) :: fvalue
      integer(c_int), intent(out) :: nerr
      integer(c_int), value, intent(in) :: kname_len
    end subroutine getfhv

    subroutine setfhv(kname, fvalue, nerr, kname_len) bind(C, name='setfhv')
      import :: c_char, c_float, c_int
      character(kind=c_char), intent(in) :: kname(*)
      real(c_float), intent(in) :: fvalue
      integer(c_int), intent(out) :: nerr
      integer(c_int), value, intent(in) :: kname_len
    end subroutine setfhv

    subroutine setnhv(kname, nvalue, nerr, kname_len) bind(C, name='setnhv')
      import :: c_char, c_int
      character(kind=c_char), intent(in) :: kname(*)
      integer(c_int), intent(in) :: nvalue
      integer(c_int), intent(out) :: nerr
      integer(c_int), value, intent(in) :: kname_len
    end subroutine setnhv

    ! A character field into kvalue, blank-padded or cut to kvalue_len characters, never a
    ! NUL: with character(len=8) :: k8, getkhv('KSTNM', k8, nerr, 5, len(k8)) gives 'WBM     '.
    ! (The C library's getkhvf; C's getkhv ends a short buffer with a NUL.)
    subroutine getkhv(kname, kvalue, nerr, kname_len, kvalue_len) bind(C, name='getkhvf')
      import :: c_char, c_int
      character(kind=c_char), intent(in) :: kname(*)
      character(kind=c_char), intent(out) :: kvalue(*)
      integer(c_int), intent(out) :: nerr
      integer(c_int), value, intent(in) :: kname_len, kvalue_len
    end subroutine getkhv

    subroutine setkhv(kname, kvalue, nerr, kname_len, kvalue_len) bind(C, name='setkhv')
      import :: c_char, c_int
      character(kind=c_char), intent(in) :: kname(*), kvalue(*)
      integer(c_int), intent(out) :: nerr
      integer(c_int), value, intent(in) :: kname_len, kvalue_len
    end subroutine setkhv

    ! Reads an evenly sampled file: at most max samples into yarray, nlen of them stored.
    subroutine rsac1(kname, yarray, nlen, beg, del, max, nerr, kname_len) bind(C, name='rsac1')
      import :: c_char, c_float, c_int
      character(kind=c_char), intent(in) :: kname(*)
      real(c_float), intent(out) :: yarray(*)
      integer(c_int), intent(out) :: nlen
      real(c_float), intent(out) :: beg, del
      integer(c_int), intent(in) :: max
      integer(c_int), intent(out) :: nerr
      integer(c_int), value, intent(in) :: kname_len
    end subroutine rsac1

    subroutine rsach(kname, nerr, kname_len) bind(C, name='rsach')
      import :: c_char, c_int
      character(kind=c_char), intent(in) :: kname(*)
      integer(c_int), intent(out) :: nerr
      integer(c_int), value, intent(in) :: kname_len
    end subroutine rsach

    ! Writes the current header and its samples. A byte-reversed write (SAC_WRITE_BYTE_ORDER)
    ! leaves the arrays reversed, hence inout.
    subroutine wsac0(kname, xarray, yarray, nerr, kname_len) bind(C, name='wsac0')
      import :: c_char, c_float, c_int
      character(kind=c_char), intent(in) :: kname(*)
      real(c_float), intent(inout) :: xarray(*), yarray(*)
      integer(c_int), intent(out) :: nerr
      integer(c_int), value, intent(in) :: kname_len
    end subroutine wsac0

    subroutine wsac3(kname, xarray, yarray, nerr, kname_len) bind(C, name='wsac3')
      import :: c_char, c_float, c_int
      character(kind=c_char), intent(in) :: kname(*)
      real(c_float), intent(inout) :: xarray(*), yarray(*)
      integer(c_int), intent(out) :: nerr
      integer(c_int), value, intent(in) :: kname_len
    end subroutine wsac3

    subroutine zopenc(handle, kname, create, readonly, status, kname_len) bind(C, name='zopenc')
      import :: c_char, c_int
      integer(c_int), intent(out) :: handle
      character(kind=c_char), intent(in) :: kname(*)
      integer(c_int), intent(in) :: create, readonly
      integer(c_int), intent(out) :: status
      integer(c_int), value, intent(in) :: kname_len
    end subroutine zopenc

    subroutine znfilef(handle, kname, ktype, unused, nerr, kname_len, ktype_len) &
        bind(C, name='znfilef')
      import :: c_char, c_int
      integer(c_int), intent(out) :: handle
      character(kind=c_char), intent(in) :: kname(*), ktype(*)
      integer(c_int), intent(in) :: unused
      integer(c_int), intent(out) :: nerr
      integer(c_int), value, intent(in) :: kname_len, ktype_len
    end subroutine znfilef

    ! Where errors, warnings and plain output go.
    subroutine sac_error_stdout() bind(C, name='sac_error_stdout')
    end subroutine sac_error_stdout
    subroutine sac_error_stderr() bind(C, name='sac_error_stderr')
    end subroutine sac_error_stderr
    subroutine sac_error_off() bind(C, name='sac_error_off')
    end subroutine sac_error_off
    subroutine sac_warning_stdout() bind(C, name='sac_warning_stdout')
    end subroutine sac_warning_stdout
    subroutine sac_warning_stderr() bind(C, name='sac_warning_stderr')
    end subroutine sac_warning_stderr
    subroutine sac_warning_off() bind(C, name='sac_warning_off')
    end subroutine sac_warning_off
    subroutine sac_output_stdout() bind(C, name='sac_output_stdout')
    end subroutine sac_output_stdout
    subroutine sac_output_stderr() bind(C, name='sac_output_stderr')
    end subroutine sac_output_stderr
    subroutine sac_output_off() bind(C, name='sac_output_off')
    end subroutine sac_output_off

  end interface

end module xcnsacio
