#!/usr/bin/env bash
# Rebuild examples/sample.exp from the CSV files in examples/data with the
# sample export key. Usage: examples/make_sample.sh [path/to/mkexport]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mkexport=${1:-$here/../build/mkexport}
"$mkexport" -k "$(cat "$here/sample_export_key.txt")" -o "$here/sample.exp" -r 10 \
	RECURRING="$here/data/recurring_store1.csv" \
	TRANSDATA="$here/data/transdata.csv" \
	RECURRING="$here/data/recurring_store2.csv"
