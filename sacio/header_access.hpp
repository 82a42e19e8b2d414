// Getting and setting fields of the current header by name.
//
// Names are matched without regard to case against the name tables; a negative length means
// a terminated text. Every failure is reported at once through the message store and returned
// in nerr (1336 undefined value, 1337 no such field).
#pragma once

namespace xcn {

// One-based position of a name in a table of 9-byte records, 0 when absent.
int find_header_name(const char* name, const char (*table)[9], int count);

void getfhv(const char* kname, float* fvalue, int* nerr, int kname_len);
void setfhv(const char* kname, const float* fvalue, int* nerr, int kname_len);
void getnhv(const char* kname, int* nvalue, int* nerr, int kname_len);
void setnhv(const char* kname, const int* nvalue, int* nerr, int kname_len);
void getkhv(const char* kname, char* kvalue, int* nerr, int kname_len, int kvalue_len);
void setkhv(const char* kname, const char* kvalue, int* nerr, int kname_len, int kvalue_len);
// getkhv for a caller whose text has no terminator (Fortran): the field, or "-12345", cut or
// blank-padded to exactly kvalue_len characters, whatever the sign of kname_len.
void getkhvf(const char* kname, char* kvalue, int* nerr, int kname_len, int kvalue_len);

// Reports at once that a required argument of a routine is a null pointer (error 1338).
void report_null_argument(const char* routine, const char* argument);

}  // namespace xcn
