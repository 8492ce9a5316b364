#!/usr/bin/env bash
# Builds the Debian packages: installs what is missing, builds a release with
# Debian's hardening flags into build-package/ (or $CORVANE_PACKAGE_DIR), lets
# CPack find the dependencies from the binaries, and prints the paths of
# corvane-cli_<version>_<arch>.deb (no Qt) and corvane_<version>_<arch>.deb
# (the window), one a line.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANE_PACKAGE_DIR:-$top/build-package}
"$top/scripts/install-deps.sh" >&2

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
rm -f "$build"/corvane_*.deb "$build"/corvane-cli_*.deb
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_TESTS=OFF \
  -DCMAKE_C_FLAGS="$(flags CFLAGS) $(flags CPPFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >&2
cmake --build "$build" --parallel "$(nproc)" >&2
(cd "$build" && cpack -G DEB >&2)
for name in corvane-cli corvane; do
  debs=("$build/${name}"_*.deb)
  [ -f "${debs[0]}" ] || { echo "package.sh: CPack made no ${name}_*.deb in $build" >&2; exit 1; }
  echo "${debs[0]}"
done
