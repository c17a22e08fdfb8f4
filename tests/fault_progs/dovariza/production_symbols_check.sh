#!/bin/sh
# Checks that the production monitor links the Dovariza probe and nothing
# of the testbed: neither the scripted probe nor the test environment's
# reader nor the syslog socket sink. $1: the dovariza_fmon executable.
set -eu
symbols=$(nm -C "$1")
echo "$symbols" | grep -q ' dovariza_probe_ops$' || { echo "no dovariza_probe_ops in $1"; exit 1; }
if echo "$symbols" | grep -E 'scripted_probe|apply_test_environment|socket_syslog_sink|testbed::'; then
  echo "testbed code linked into $1"
  exit 1
fi
