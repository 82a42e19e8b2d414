// Entry of xcorrnet_v3.
#include "driver/run.hpp"

int main(int argc, char** argv) { return xcn::run_tool(argc, argv); }
