#!/usr/bin/env bash
# Installs the library, the ekvision tool and the Python package ekvision for Debian's
# /usr/bin/python3: scripts/install-python.sh [PREFIX]   (default /usr/local, as root)
# Only Debian's packages are fetched (scripts/install-deps.sh); nothing else from the network.
# With the default prefix the package lands in /usr/local/lib/python3.X/dist-packages, where
# Debian's interpreter looks; with another prefix, the last line says what to put on
# PYTHONPATH.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix="$(realpath -m "${1:-/usr/local}")"
scripts/install-deps.sh
build=build/python-install
scripts/configure.sh "$build" -DCMAKE_BUILD_TYPE=Release -DEKVISION_BUILD_PYTHON=ON \
  -DEKVISION_BUILD_TESTS=OFF -DEKVISION_BUILD_EXAMPLES=OFF -DCMAKE_INSTALL_PREFIX="$prefix" \
  >/dev/null
cmake --build "$build" -j"$(nproc)"
cmake --install "$build" >/dev/null
if [ "$(id -u)" -eq 0 ] && [ "$prefix" = /usr/local ]; then
  ldconfig
fi
site="$prefix/lib/python$(/usr/bin/python3 -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')/dist-packages"
if (cd / && /usr/bin/python3 -c 'import ekvision' 2>/dev/null); then
  where=$(cd / && /usr/bin/python3 -c 'import ekvision; print(ekvision.__file__)')
  echo "installed: /usr/bin/python3 -c 'import ekvision' uses $where"
else
  (cd / && PYTHONPATH="$site" /usr/bin/python3 -c 'import ekvision')
  echo "installed in $prefix; before importing ekvision: export PYTHONPATH=$site"
fi
