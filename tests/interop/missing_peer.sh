#!/bin/sh
# Stands in for an interoperability test whose peer is not installed: reported
# as skipped (exit 77) on a developer machine, as failed when CI is set, so
# that CI never passes without the independent checks having run.
# Usage: missing_peer.sh TEST WHAT-IS-MISSING
echo "$1: $2 is not installed, so the test cannot run (scripts/setup-deps installs it)"
if [ -n "${CI+set}" ]; then
    echo "$1: CI is set: a missing peer fails the test"
    exit 1
fi
exit 77
