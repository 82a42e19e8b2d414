#!/bin/sh
# Builds a C or Fortran caller against the installed library the way a user would, with flags
# from pkg-config only, and runs it on a scratch file.
# Usage: pkgconfig_caller.sh PKG_CONFIG PC_DIR COMPILER SOURCE WORK [EXTRA_FLAGS]
set -eu
pkg_config=$1 pc_dir=$2 compiler=$3 source=$4 work=$5 extra=${6:-}
export PKG_CONFIG_PATH="$pc_dir"
# Nothing of the build tree may leak in.
unset CPATH C_INCLUDE_PATH LIBRARY_PATH
rm -rf "$work"
mkdir -p "$work"

libdir=$("$pkg_config" --variable=libdir xcnsacio)
libs=$("$pkg_config" --libs xcnsacio)
case "$source" in
  *.c)
    version=$("$pkg_config" --modversion xcnsacio)
    # shellcheck disable=SC2046,SC2086
    "$compiler" -std=c99 -Wall -Wextra -Wpedantic -Werror $extra \
      -DXCN_EXPECTED_VERSION="\"$version\"" $("$pkg_config" --cflags xcnsacio) \
      "$source" -o "$work/caller" $libs "-Wl,-rpath,$libdir"
    ;;
  *.f90)
    # shellcheck disable=SC2086
    "$compiler" -std=f2018 -Wall -Werror $extra -J "$work" \
      -I"$("$pkg_config" --variable=fmoddir xcnsacio)" \
      "$source" -o "$work/caller" $libs "-Wl,-rpath,$libdir"
    ;;
  *)
    echo "pkgconfig_caller.sh: no rule for $source" >&2
    exit 2
    ;;
esac
SACAUX=$("$pkg_config" --variable=sacaux xcnsacio) "$work/caller" "$work/caller.sac"
