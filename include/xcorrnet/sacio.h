/* The public C interface of the xcorrnet SAC file library, for C, C++ and Fortran callers.
 *
 * Conventions:
 * - Every argument is passed by reference, except the hidden text lengths, which come last,
 *   by value, one per text argument, in argument order (as Fortran passes them).
 * - A text length of 0 or more means the first that many characters of a blank-padded text;
 *   a negative length means a NUL-terminated text. Trailing blanks of names are ignored.
 * - nerr is set to 0 on entry; a positive value is a failure, a negative value a success with
 *   a remark. Failures are also reported as numbered messages on standard output (the switches
 *   of switches.h, included below, route them elsewhere).
 * - Every pointer a routine uses must be valid. A NULL one is refused before anything is done:
 *   nerr 1338 and a message naming the routine and the argument (a NULL nerr: the message
 *   only). A NULL name is an empty name. xarray of wsac0 is used only when LEVEN is false.
 * - Samples are 32-bit floats; times in seconds; angles in degrees; distances in km.
 * - The library holds one current header per process and is not reentrant: serialise every
 *   sequence from newhdr or rsac1 to the last get, set or wsac0 across threads.
 * - Each routine is also available under its name followed by _ and by __, with the same
 *   arguments (Fortran link names).
 * - The first call of newhdr, rsac1 or rsach loads the message file from the directory named
 *   by the environment variable SACAUX; a process without SACAUX ends there with status 1.
 *   An installed library keeps it in <prefix>/share/xcorrnet.
 * - Include it as <xcorrnet/sacio.h>; Fortran callers `use xcnsacio` (xcnsacio.f90 beside it).
 */
#ifndef XCN_SACIO_H
#define XCN_SACIO_H

/* The version of this interface. The build takes the shared library's version from these
   three numbers, and refuses a string that disagrees with them. */
#define XCNSACIO_VERSION_MAJOR 1
#define XCNSACIO_VERSION_MINOR 0
#define XCNSACIO_VERSION_PATCH 0
#define XCNSACIO_VERSION "1.0.0"

/* Quoted, so that it is found beside this file whatever the caller's include path. */
#include "switches.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Error numbers returned in nerr. */
enum {
  SACIO_OK = 0,
  SACIO_ERR_OPEN = 101,           /* the file cannot be opened, created or replaced */
  SACIO_ERR_NO_FILE = 108,        /* the file does not exist */
  SACIO_ERR_SHORT_READ = 114,     /* the file holds fewer bytes than its header announces */
  SACIO_ERR_WRITE = 115,          /* NPTS not positive, or the file could not be written */
  SACIO_ERR_NOT_EVEN = 801,       /* LEVEN is false: rsac1 reads evenly sampled files only */
  SACIO_WARN_TRUNCATED = -803,    /* success; samples cut to the caller's capacity */
  SACIO_ERR_DISTANCE = 904,       /* header distance disagrees with the arc */
  SACIO_ERR_NO_OVERWRITE = 1303,  /* LOVROK is false: the file may not be written */
  SACIO_ERR_NOT_SAC = 1317,       /* not a SAC header: bad version word or negative NPTS */
  SACIO_ERR_BAD_VERSION = 1318,   /* wsac0: NVHDR is not a version rsac1 reads (1 to 6) */
  SACIO_WARN_UNDEFINED = 1336,    /* the field holds its undefined value */
  SACIO_ERR_NO_FIELD = 1337,      /* no header field of that name */
  SACIO_ERR_NULL_ARGUMENT = 1338, /* a pointer the routine needs is NULL; nothing was done */
  SACIO_ERR_NAME_NUL = 1339,      /* wsac0: a NUL byte inside the name, within its length */
  SACIO_ERR_SMALL_BUFFER = 1340   /* getkhv: the buffer holds no character of the field */
};

/* Declares a routine under its three link names. */
#define SACIO_API(name, params) \
  void name params;             \
  void name##_ params;          \
  void name##__ params;

/* Sets the library's constants (undefined values, header version 6). */
SACIO_API(inihdr, (void))

/* Resets the current header: every field undefined (-12345, "-12345"), NVHDR 6, IFTYPE ITIME,
   LEVEN, LOVROK and LCALDA true. Initialises the library on first use. */
SACIO_API(newhdr, (void))

/* Gets a float field by name (e.g. "DELTA"). An undefined field gives -12345.0 and nerr 1336;
   an unknown name gives -12345.0 and nerr 1337. Both print a warning. */
SACIO_API(getfhv, (const char *kname, float *fvalue, int *nerr, int kname_len))

/* Sets a float field by name; nerr 1337 (header unchanged) for an unknown name. */
SACIO_API(setfhv, (const char *kname, const float *fvalue, int *nerr, int kname_len))

/* Sets an integer field by name (e.g. "NPTS"); nerr 1337 for an unknown name. */
SACIO_API(setnhv, (const char *kname, const int *nvalue, int *nerr, int kname_len))

/* Gets a character field (8 characters; 16 for KEVNM) into kvalue.
   kname_len >= 0: kvalue is a blank-padded buffer of kvalue_len characters; the field is
   blank-padded to the buffer (a buffer of 8 or fewer gets kvalue_len - 1 characters and a
   NUL). kname_len < 0: kvalue holds kvalue_len characters plus a NUL; the result is the field
   cut to the buffer and terminated; kvalue_len <= 0 returns at once.
   nerr 1336 for an undefined field, 1337 (and "-12345") for an unknown name, 1340 for a
   blank-padded buffer of fewer than 2 characters (no character of the field fits). */
SACIO_API(getkhv, (const char *kname, char *kvalue, int *nerr, int kname_len, int kvalue_len))

/* getkhv for a text without a terminator, as Fortran passes it (the module's getkhv): the
   field, or "-12345", blank-padded or cut to exactly kvalue_len characters, never a NUL,
   whatever the sign of kname_len. KCMPNM "BHZ" into 3 characters is "BHZ"; a 16-character
   KEVNM into 16 keeps all 16. */
SACIO_API(getkhvf, (const char *kname, char *kvalue, int *nerr, int kname_len, int kvalue_len))

/* Sets a character field to the first 8 characters of kvalue (16 for KEVNM), blank-padded;
   a blank or empty value leaves the field unchanged. nerr 1337 for an unknown name. */
SACIO_API(setkhv, (const char *kname, const char *kvalue, int *nerr, int kname_len, int kvalue_len))

/* Reads an evenly sampled SAC file of either byte order: its header becomes the current
   header, at most *max samples go into yarray. nlen: samples stored; beg, del: B and DELTA
   in seconds. nerr: 0; -803 when the file held more than *max samples (NPTS becomes *max);
   101, 108, 114, 801 or 1317 on failure, with nlen 0 (101 also for a name that is not a
   regular file). A character field ends at its first NUL: the rest of it reads
   as blanks. */
SACIO_API(rsac1, (const char *kname, float *yarray, int *nlen, float *beg, float *del,
                  const int *max, int *nerr, int kname_len))

/* Reads only the header of a SAC file into the current header. */
SACIO_API(rsach, (const char *kname, int *nerr, int kname_len))

/* Writes the current header and NPTS samples of yarray (then of xarray when LEVEN is false)
   as a SAC file, after computing DEPMIN, DEPMAX, DEPMEN and, when LCALDA is true and the
   coordinates are set, those of DIST, AZ, BAZ, GCARC that are not negative. The byte order is
   chosen once per process from SAC_WRITE_BYTE_ORDER (big or little; default: the host's; any
   other value gives the host's and one warning on standard error);
   after a byte-reversed write the sample arrays hold the reversed values. An existing file is
   replaced only when the new one is complete.
   A new file gets permissions 0666 less the process's umask; a file replaced keeps at most
   the permissions (and, where the caller may, the group) it had. A name that is a symbolic
   link of the caller's own is written through: the file it leads to is replaced, the link
   stays. Refused with 101, the name left as it is: a name that is not a regular file
   ("(Not a regular file.)": a directory, FIFO, socket or device, or a link to one), a file
   without write permission for the caller, a link of another user ("(Insufficient access
   rights.)") or a link to nothing. Temporaries are hidden files .wsac0.PID.XXXXXXXXXX beside
   the file, with names no one can guess, created exclusively.
   A folder on the way to the name that is a symbolic link of another user than the caller and
   the folder's owner, in a folder others (its group or everyone) can write, is not followed:
   101 "(Insufficient access rights.)", errno EACCES. A name with a NUL byte within its length
   followed by more than blanks or NULs is refused with 1339 rather than cut at the NUL.
   nerr: 0, 101, 115, 1303, 1318 (NVHDR not 1 to 6), 1338 or 1339; after a failure errno holds
   the system's reason (0 when no system call failed). */
SACIO_API(wsac0, (const char *kname, float *xarray, float *yarray, int *nerr, int kname_len))

/* The same as wsac0. */
SACIO_API(wsac3, (const char *kname, float *xarray, float *yarray, int *nerr, int kname_len))

/* Opens (create 0) or creates (create nonzero; a new file gets 0666 less the umask) a file.
   handle: the negated descriptor when open, 1 after a failure. status: 0, 1 access refused,
   2 other failure, 3 not a regular file (opening only: a directory, FIFO, device or socket is
   never opened for reading). No open waits for a pipe's other end: creating over a name that
   is not a regular file fails with status 2, without opening it. */
SACIO_API(zopenc, (int *handle, const char *kname, const int *create, const int *readonly,
                   int *status, int kname_len))

/* Creates a data file (ktype "DATA"), truncating an existing one. The fourth argument is
   ignored. nerr: 0 or 101 (message composed, not printed). */
SACIO_API(znfilef, (int *handle, const char *kname, const char *ktype, int *unused, int *nerr,
                    int kname_len, int ktype_len))

#undef SACIO_API

#ifdef __cplusplus
}
#endif

#endif /* XCN_SACIO_H */
