/* A C caller of the file library: builds a header by name, writes a file, reads it back and
   checks every value through the library. Exits non-zero on any mismatch. Built in the tree
   and against an installed copy (pkg-config, find_package, shared and static). */
#include <stdio.h>
#include <string.h>

#include "xcorrnet/sacio.h"

#define NPTS 64

static int failures = 0;

/* A call given a NULL pointer it needs: refused with 1338, nothing done. */
#define REFUSED(call)                        \
  do {                                       \
    nerr = -1;                               \
    call;                                    \
    CHECK(nerr == SACIO_ERR_NULL_ARGUMENT);  \
  } while (0)

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

static void set_float(const char *name, float value) {
  int nerr = -1;
  setfhv(name, &value, &nerr, -1);
  CHECK(nerr == 0);
}

static float get_float(const char *name) {
  float value = 0.0f;
  int nerr = -1;
  getfhv(name, &value, &nerr, -1);
  CHECK(nerr == 0);
  return value;
}

int main(int argc, char **argv) {
  float y[NPTS], expected[NPTS], z[NPTS + 1];
  int n = NPTS, nerr = -1, nlen = 0, max = NPTS + 1, i;
  float beg = 0.0f, del = 0.0f, value = 0.0f;
  char text[17];
  char padded[10];
  char k8[8], k3[3], k16[16];

  if (argc != 2) {
    fprintf(stderr, "usage: %s file.sac\n", argv[0]);
    return 2;
  }
#ifdef XCN_EXPECTED_VERSION
  /* The header is the version the build or the package announces, in both spellings. */
  snprintf(text, sizeof text, "%d.%d.%d", XCNSACIO_VERSION_MAJOR, XCNSACIO_VERSION_MINOR,
           XCNSACIO_VERSION_PATCH);
  CHECK(strcmp(text, XCN_EXPECTED_VERSION) == 0);
  CHECK(strcmp(XCNSACIO_VERSION, XCN_EXPECTED_VERSION) == 0);
#endif
  for (i = 0; i < NPTS; ++i) expected[i] = y[i] = (float)(i - 32) * 0.5f;

  newhdr();
  setnhv("NPTS", &n, &nerr, -1);
  CHECK(nerr == 0);
  set_float("DELTA", 0.01f);
  set_float("B", 2.5f);
  set_float("EVLA", 35.0f);
  set_float("EVLO", 139.0f);
  set_float("STLA", 40.0f);
  set_float("STLO", -120.0f);
  set_float("GCARC", 0.0f); /* asks the writer to compute it */
  setkhv("KSTNM", "CSTA", &nerr, -1, -1);
  CHECK(nerr == 0);
  /* Fortran-style: blank-padded texts with explicit lengths, through the _ link names. */
  setkhv_("KCMPNM  ", "BHZ       ", &nerr, 8, 10);
  CHECK(nerr == 0);
  setkhv__("KEVNM", "C-CALLER-EVENT", &nerr, -1, -1);
  CHECK(nerr == 0);

  wsac0(argv[1], y, y, &nerr, -1);
  CHECK(nerr == 0);

  newhdr();
  rsac1(argv[1], z, &nlen, &beg, &del, &max, &nerr, (int)strlen(argv[1]));
  CHECK(nerr == 0);
  CHECK(nlen == NPTS);
  CHECK(beg == 2.5f);
  CHECK(del == 0.01f);
  for (i = 0; i < NPTS; ++i) CHECK(z[i] == expected[i]);

  CHECK(get_float("DELTA") == 0.01f);
  CHECK(get_float("B") == 2.5f);
  CHECK(get_float("E") == 2.5f + 63.0f * 0.01f);
  CHECK(get_float("DEPMIN") == -16.0f);
  CHECK(get_float("DEPMAX") == 15.5f);
  CHECK(get_float("DEPMEN") == -0.25f);
  CHECK(get_float("STLA") == 40.0f);
  value = get_float("GCARC");
  CHECK(value > 75.80f && value < 75.81f);
  getfhv_("DIST", &value, &nerr, 4); /* never requested: stays undefined */
  CHECK(nerr == SACIO_WARN_UNDEFINED && value == -12345.0f);

  getkhv("KSTNM", text, &nerr, -1, 16);
  CHECK(nerr == 0 && strcmp(text, "CSTA    ") == 0);
  getkhv("KEVNM", text, &nerr, -1, 16);
  CHECK(nerr == 0 && strcmp(text, "C-CALLER-EVENT  ") == 0);
  getkhv_("KCMPNM", padded, &nerr, 6, 10);
  CHECK(nerr == 0 && memcmp(padded, "BHZ       ", 10) == 0);

  sac_warning_off();
  getkhv("KNOWHERE", text, &nerr, -1, 16);
  CHECK(nerr == SACIO_ERR_NO_FIELD);

  /* Fields that fill the text: a blank-padded C buffer no longer than the field ends in a NUL,
     as the header says; getkhvf, the text of a Fortran caller, never does. */
  setkhv("KSTNM", "WBM", &nerr, -1, -1);
  setkhv("KEVNM", "SIXTEEN-CHARS-EV", &nerr, -1, -1);
  getkhv_("KSTNM", k8, &nerr, 5, 8);
  CHECK(nerr == 0 && memcmp(k8, "WBM    \0", 8) == 0);
  getkhvf_("KSTNM", k8, &nerr, 5, 8);
  CHECK(nerr == 0 && memcmp(k8, "WBM     ", 8) == 0);
  getkhvf("KCMPNM", k3, &nerr, -1, 3);
  CHECK(nerr == 0 && memcmp(k3, "BHZ", 3) == 0);
  getkhvf__("KEVNM", k16, &nerr, 5, 16);
  CHECK(nerr == 0 && memcmp(k16, "SIXTEEN-CHARS-EV", 16) == 0);
  getkhv("KEVNM", text, &nerr, -1, 16);
  CHECK(nerr == 0 && strcmp(text, "SIXTEEN-CHARS-EV") == 0);

  /* Every pointer a routine uses is checked before use. */
  sac_error_off();
  REFUSED(getfhv("B", NULL, &nerr, -1));
  REFUSED(setfhv("B", NULL, &nerr, -1));
  REFUSED(setnhv_("NPTS", NULL, &nerr, 4));
  REFUSED(getkhv("KSTNM", NULL, &nerr, -1, 8));
  REFUSED(getkhvf("KSTNM", NULL, &nerr, -1, 8));
  REFUSED(setkhv("KSTNM", NULL, &nerr, -1, -1));
  REFUSED(rsac1(argv[1], NULL, &nlen, &beg, &del, &max, &nerr, -1));
  REFUSED(rsac1(argv[1], z, NULL, &beg, &del, &max, &nerr, -1));
  REFUSED(rsac1(argv[1], z, &nlen, &beg, &del, NULL, &nerr, -1));
  REFUSED(wsac0(argv[1], NULL, NULL, &nerr, -1));
  REFUSED(wsac3__(argv[1], y, NULL, &nerr, -1));
  REFUSED(znfilef(NULL, argv[1], "DATA", &n, &nerr, -1, 4));
  getfhv("B", &value, NULL, -1); /* nothing to say it in: nothing done, no crash */
  newhdr();
  rsac1(argv[1], z, &nlen, &beg, &del, &max, &nerr, -1);
  CHECK(nerr == 0 && nlen == NPTS); /* the file the refused writes left alone */

  if (failures == 0) printf("c_client: all values read back\n");
  return failures == 0 ? 0 : 1;
}
