#!/bin/sh
# The Debian packages this project builds and tests with, as
# debian-packages.txt lists them, for apt-get install:
#   apt-get update && apt-get install -y $(sh tools/debian-packages.sh)
# Where the installed nodejs already brings its own npm (NodeSource's does,
# and conflicts with Debian's npm), Debian's npm is left out.
list=$(dirname "$0")/../debian-packages.txt
packages=$(sed 's/#.*//' "$list")
if dpkg-query -W -f='${Provides}\n' nodejs 2>/dev/null | grep -qw npm; then
    packages=$(printf '%s\n' $packages | grep -vx npm)
fi
printf '%s\n' $packages
