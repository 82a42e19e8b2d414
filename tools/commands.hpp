// The tools' command lines: synthetic network, name list, demo report, record section, export
// of a run container.
//
// Each takes its arguments without the program name, prints its own failures as one line per
// problem on `err`, and returns the exit status. They use our SAC library, so SACAUX must name
// the folder of the message file.
#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace xcn::tools {

// What xcn_synth --help prints: both ways to run it.
extern const char* const kSynthUsage;

// xcn_synth [--stations N] [--samples M] [--delta S] [--seed K] [--out DIR] [--folders]
// Writes DIR/STnn.BHZ.sac for every station, DIR/stations.txt and DIR/names.txt, both relative
// to DIR (run xcorrnet_v3 there).
int run_synth(std::span<const std::string> args, std::FILE* out, std::FILE* err);

// xcn_synth --three [--stations N] [--samples M] [--delta S] [--seed K] [--out DIR]
//           [--orient en|12] [--waves both|rayleigh|love]
// Writes DIR/STnn.BHE.sac, .BHN.sac and .BHZ.sac (or BH1, BH2, BHZ) for every station, with
// DIR/stations.txt and DIR/names.txt.
int run_synth_three(std::span<const std::string> args, std::FILE* out, std::FILE* err);

// xcn_synth --sds [--stations N] [--rate R] [--day DAY] [--seed K] [--out DIR]  (with libmseed)
// Writes the network as a miniSEED SDS archive DIR/sds with DIR/stations.xml.
int run_synth_archive(std::span<const std::string> args, std::FILE* out, std::FILE* err);

// xcn_names [--folders] STATION_LIST NAME_LIST [FOLDER]
// Writes NAME_LIST in pair order from the station and component names of the listed files,
// each name placed in FOLDER when one is given. Nothing is written unless every name serves.
int run_names(std::span<const std::string> args, std::FILE* out, std::FILE* err);

// xcn_demo_report STATION_LIST NAME_LIST
// Tables, for each cross-correlation result, the distance, the travel time at 3 km/s and the
// lag of the largest peak on each side; fails unless every peak lies within 2 s of it.
int run_report(std::span<const std::string> args, std::FILE* out, std::FILE* err);

// xcn_section NAME_LIST PICTURE [--velocity V] [--size WxH] [--max-lag S] [--comp XY]
// (built with cairo). Draws the cross-correlations named in NAME_LIST as a record section, to
// PNG, SVG or PDF by PICTURE's extension; with --comp, those of one pair of components. A
// result that cannot be drawn is reported and left out.
int run_section(std::span<const std::string> args, std::FILE* out, std::FILE* err);

// xcn_export FILE.nc DIR
// Writes every written row of the run container FILE.nc as the SAC file the run would have
// written for its pair, DIR/A_B.sac, and the name list DIR/names.txt of the files written.
int run_export(std::span<const std::string> args, std::FILE* out, std::FILE* err);

}  // namespace xcn::tools
