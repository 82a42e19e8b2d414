/* Switches that send errors, warnings and plain output to standard output, standard error or
   nowhere. Usable from C and C++; each also links as name_ and name__ for Fortran callers. */
#ifndef XCN_MSG_SWITCHES_H
#define XCN_MSG_SWITCHES_H

#ifdef __cplusplus
extern "C" {
#endif

#define XCN_DECLARE_SWITCH(name) \
  void name(void);               \
  void name##_(void);            \
  void name##__(void);

XCN_DECLARE_SWITCH(sac_error_stdout)
XCN_DECLARE_SWITCH(sac_error_stderr)
XCN_DECLARE_SWITCH(sac_error_off)
XCN_DECLARE_SWITCH(sac_warning_stdout)
XCN_DECLARE_SWITCH(sac_warning_stderr)
XCN_DECLARE_SWITCH(sac_warning_off)
XCN_DECLARE_SWITCH(sac_output_stdout)
XCN_DECLARE_SWITCH(sac_output_stderr)
XCN_DECLARE_SWITCH(sac_output_off)

#undef XCN_DECLARE_SWITCH

#ifdef __cplusplus
}
#endif

#endif /* XCN_MSG_SWITCHES_H */
