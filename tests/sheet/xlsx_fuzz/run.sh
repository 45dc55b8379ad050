#!/usr/bin/env bash
# A short fuzz run of the .xlsx reader: the .xls run's script with the .xlsx target.
#   tests/sheet/xlsx_fuzz/run.sh [SECONDS]   (default 60)
exec "$(dirname "$0")/../fuzz/run.sh" "${1:-60}" xlsx
