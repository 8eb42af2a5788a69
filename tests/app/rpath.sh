#!/bin/sh
# The program's library search path is its own folder and nothing else: an empty entry would
# make the loader look in the current folder, taking libraries from wherever it is started.
paths=$(readelf -d "$1" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')
if [ "$paths" != '$ORIGIN' ]; then
  echo "library search path of $1 is '$paths', expected '\$ORIGIN'" >&2
  exit 1
fi
