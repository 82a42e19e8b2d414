#!/bin/sh
# Formats a man page and fails on any warning of the formatter or a missing section.
# Usage: check_man.sh MAN_OR_GROFF PAGE
set -eu
formatter=$1 page=$2
case "$(basename "$formatter")" in
  man) warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
                    "$formatter" --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null) ;;
  *) warnings=$("$formatter" -man -ww -z "$page" 2>&1) ;;
esac
status=0
if [ -n "$warnings" ]; then
  printf '%s\n' "$warnings"
  status=1
fi
for section in NAME SYNOPSIS DESCRIPTION ENVIRONMENT EXIT_STATUS EXAMPLES; do
  title=$(echo "$section" | tr _ ' ')
  if ! grep -Eq "^\.SH \"?$title\"?\$" "$page"; then
    echo "$page: no section $title"
    status=1
  fi
done
if ! grep -Eq '^\.SH (OPTIONS|ARGUMENTS)$' "$page"; then
  echo "$page: neither OPTIONS nor ARGUMENTS"
  status=1
fi
exit $status
