// The C link names of the library: each routine under its name and with _ and __ appended.
#include <exception>

#include "sacio/file.hpp"
#include "sacio/header_access.hpp"
#include "sacio/header_model.hpp"
#include "sacio/read.hpp"
#include "sacio/write.hpp"
#include "xcorrnet/sacio.h"

namespace {

// Whether every pointer a routine uses is there: a C or Fortran caller's NULL is refused with
// 1338 before anything is read or written, the name of the argument in the message. Names may
// be NULL (an empty name); nerr may not, but a NULL one is still reported.
bool present(const char* /*routine*/, int* /*nerr*/) { return true; }

template <typename... Rest>
bool present(const char* routine, int* nerr, const void* pointer, const char* argument,
             Rest... rest) {
  if (pointer == nullptr) {
    xcn::report_null_argument(routine, argument);
    if (nerr != nullptr) *nerr = SACIO_ERR_NULL_ARGUMENT;
    return false;
  }
  return present(routine, nerr, rest...);
}

template <typename... Rest>
bool required(const char* routine, int* nerr, Rest... rest) {
  return present(routine, nerr, nerr, "nerr", rest...);
}

// The second component as wsac0 uses it: only a file that is not evenly sampled has one.
const float* samples_x(const float* xarray, const float* yarray) {
  return xcn::Lhdr(xcn::kLeven) == 0 ? xarray : yarray;
}

// The samples as rsac1 uses them: a capacity of none stores no sample and needs no array (an
// empty std::vector's data() is NULL).
const void* samples_y(const int* max, const float* yarray) {
  return max != nullptr && *max <= 0 ? static_cast<const void*>(max) : yarray;
}

// zopenc has no nerr: a refusal is a failed open (status 2, handle 1) where they can be set.
bool open_arguments(int* handle, const int* create, const int* readonly, int* status) {
  int ignored = 0;
  if (!present("zopenc", &ignored, handle, "handle", status, "status", create, "create", readonly,
               "readonly")) {
    if (handle != nullptr) *handle = 1;
    if (status != nullptr) *status = 2;
    return false;
  }
  return true;
}

}  // namespace

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
         if (required("getfhv", nerr, fvalue, "fvalue"))
             xcn::getfhv(kname, fvalue, nerr, kname_len))
XCN_BIND(setfhv, (const char* kname, const float* fvalue, int* nerr, int kname_len),
         if (required("setfhv", nerr, fvalue, "fvalue"))
             xcn::setfhv(kname, fvalue, nerr, kname_len))
XCN_BIND(setnhv, (const char* kname, const int* nvalue, int* nerr, int kname_len),
         if (required("setnhv", nerr, nvalue, "nvalue"))
             xcn::setnhv(kname, nvalue, nerr, kname_len))
XCN_BIND(getkhv, (const char* kname, char* kvalue, int* nerr, int kname_len, int kvalue_len),
         if (required("getkhv", nerr, kvalue, "kvalue"))
             xcn::getkhv(kname, kvalue, nerr, kname_len, kvalue_len))
XCN_BIND(getkhvf, (const char* kname, char* kvalue, int* nerr, int kname_len, int kvalue_len),
         if (required("getkhvf", nerr, kvalue, "kvalue"))
             xcn::getkhvf(kname, kvalue, nerr, kname_len, kvalue_len))
XCN_BIND(setkhv, (const char* kname, const char* kvalue, int* nerr, int kname_len, int kvalue_len),
         if (required("setkhv", nerr, kvalue, "kvalue"))
             xcn::setkhv(kname, kvalue, nerr, kname_len, kvalue_len))
XCN_BIND(rsac1,
         (const char* kname, float* yarray, int* nlen, float* beg, float* del, const int* max,
          int* nerr, int kname_len),
         if (required("rsac1", nerr, samples_y(max, yarray), "yarray", nlen, "nlen", beg, "beg",
                      del, "del", max, "max"))
             xcn::rsac1(kname, yarray, nlen, beg, del, max, nerr, kname_len))
XCN_BIND(rsach, (const char* kname, int* nerr, int kname_len),
         if (required("rsach", nerr)) xcn::rsach(kname, nerr, kname_len))
XCN_BIND(wsac0, (const char* kname, float* xarray, float* yarray, int* nerr, int kname_len),
         if (required("wsac0", nerr, yarray, "yarray", samples_x(xarray, yarray), "xarray"))
             xcn::wsac0(kname, xarray, yarray, nerr, kname_len))
XCN_BIND(wsac3, (const char* kname, float* xarray, float* yarray, int* nerr, int kname_len),
         if (required("wsac3", nerr, yarray, "yarray", samples_x(xarray, yarray), "xarray"))
             xcn::wsac3(kname, xarray, yarray, nerr, kname_len))
XCN_BIND(zopenc,
         (int* handle, const char* kname, const int* create, const int* readonly, int* status,
          int kname_len),
         if (open_arguments(handle, create, readonly, status))
             xcn::zopenc(handle, kname, create, readonly, status, kname_len))
XCN_BIND(znfilef,
         (int* handle, const char* kname, const char* ktype, int* /*unused*/, int* nerr,
          int kname_len, int ktype_len),
         if (required("znfilef", nerr, handle, "handle"))
             xcn::znfile(handle, kname, kname_len, ktype, ktype_len, nerr))

}  // extern "C"
