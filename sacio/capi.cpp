// The C link names of the library: each routine under its name and with _ and __ appended.
#include <exception>

#include "sacio.h"
#include "sacio/file.hpp"
#include "sacio/header_access.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/write.hpp"

// Defines the three link names of one routine. Nothing may unwind into a C or Fortran caller;
// the internals throw only when memory is exhausted.
#define XCN_BIND(name, params, call)       \
  void name params { XCN_GUARD(call); }    \
  void name##_ params { XCN_GUARD(call); } \
  void name##__ params { XCN_GUARD(call); }

#define XCN_GUARD(call) \
  try {                 \
    call;               \
  } catch (...) {       \
    std::terminate();   \
  }

extern "C" {

XCN_BIND(inihdr, (void), xcn::inihdr())
XCN_BIND(newhdr, (void), xcn::newhdr())
XCN_BIND(getfhv, (const char* kname, float* fvalue, int* nerr, int kname_len),
         xcn::getfhv(kname, fvalue, nerr, kname_len))
XCN_BIND(setfhv, (const char* kname, const float* fvalue, int* nerr, int kname_len),
         xcn::setfhv(kname, fvalue, nerr, kname_len))
XCN_BIND(getnhv, (const char* kname, int* nvalue, int* nerr, int kname_len),
         xcn::getnhv(kname, nvalue, nerr, kname_len))
XCN_BIND(setnhv, (const char* kname, const int* nvalue, int* nerr, int kname_len),
         xcn::setnhv(kname, nvalue, nerr, kname_len))
XCN_BIND(getkhv, (const char* kname, char* kvalue, int* nerr, int kname_len, int kvalue_len),
         xcn::getkhv(kname, kvalue, nerr, kname_len, kvalue_len))
XCN_BIND(setkhv, (const char* kname, const char* kvalue, int* nerr, int kname_len, int kvalue_len),
         xcn::setkhv(kname, kvalue, nerr, kname_len, kvalue_len))
XCN_BIND(rsac1,
         (const char* kname, float* yarray, int* nlen, float* beg, float* del, const int* max,
          int* nerr, int kname_len),
         xcn::rsac1(kname, yarray, nlen, beg, del, max, nerr, kname_len))
XCN_BIND(rsach, (const char* kname, int* nerr, int kname_len), xcn::rsach(kname, nerr, kname_len))
XCN_BIND(wsac0, (const char* kname, float* xarray, float* yarray, int* nerr, int kname_len),
         xcn::wsac0(kname, xarray, yarray, nerr, kname_len))
XCN_BIND(wsac3, (const char* kname, float* xarray, float* yarray, int* nerr, int kname_len),
         xcn::wsac3(kname, xarray, yarray, nerr, kname_len))
XCN_BIND(zopenc,
         (int* handle, const char* kname, const int* create, const int* readonly, int* status,
          int kname_len),
         xcn::zopenc(handle, kname, create, readonly, status, kname_len))
XCN_BIND(znfilef,
         (int* handle, const char* kname, const char* ktype, int* /*unused*/, int* nerr,
          int kname_len, int ktype_len),
         xcn::znfile(handle, kname, kname_len, ktype, ktype_len, nerr))

}  // extern "C"
