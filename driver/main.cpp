// Entry of xcorrnet_v3: argument check, run set-up, then the phases of a run.
#include "driver/params.hpp"

int main(int argc, char** argv) {
  if (argc != 5) {
    xcn::print_usage();
    return 0;
  }
  xcn::RunParams params;
  if (const int status = xcn::set_up_run(argv + 1, params, stderr); status != 0) return status;
  return 0;
}
