#!/usr/bin/env bash
# cmake --install lays the program out like a Linux program, and the installed vireo-check finds
# the catalogue importer in libexec.   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/vireo bin/vireo-check libexec/vireo/vireo-mdb-import share/applications/vireo.desktop \
         share/icons/hicolor/scalable/apps/vireo.svg share/man/man1/vireo-check.1; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
grep -q 'no\\-csv\\-bom' "$prefix/share/man/man1/vireo-check.1" || { echo "man page lacks the options" >&2; exit 1; }
"$prefix/bin/vireo-check" --version | grep -q '^vireo-check ' || { echo "no --version" >&2; exit 1; }
# Nothing listens on port 1: the run gets past reading VUZ.mdb (which needs the importer) and fails
# to connect.
out=$(VIREO_SA_PASSWORD=x "$prefix/bin/vireo-check" --server 127.0.0.1,1 --account 001 --year 2024 --all \
      --program-folder "$source/demo" 2>&1 || true)
if grep -q 'VUZ.mdb' <<<"$out"; then echo "the installed program did not read the catalogue: $out" >&2; exit 1; fi
echo ok
