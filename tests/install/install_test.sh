#!/usr/bin/env bash
# The library as a newcomer takes it up: a build of the library, the driver
# and molvane-host without the tests (optimisation off, to keep it short),
# installed into a scratch prefix. Then every installed header compiles alone
# as C99 and as C++11, libmolvane.so exports exactly the names the headers
# declare, molvane-host runs from the prefix, and examples/quickstart.c
# builds against the prefix with pkg-config and with find_package and runs
# against the installed reference driver, twice in a row; api_messages.c
# reads the causes of failing calls through the installed API alone, and
# docs/first-table.md works as written.
#   install_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
src=$1 work=$2
jobs=${MOLVANE_INSTALL_TEST_JOBS:-2}
here="$(cd "$(dirname "$0")" && pwd)"
prefix="$work/prefix"
rm -rf "$work"
mkdir -p "$work"

step() { echo "--- $*"; }
run_logged() {
  local log=$1
  shift
  if ! "$@" > "$log" 2>&1; then
    tail -40 "$log"
    echo "failed: $*" >&2
    exit 1
  fi
}

step "build and install into $prefix"
run_logged "$work/configure.log" cmake -S "$src" -B "$work/build" -G Ninja -DMOLVANE_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE=-O0 -DCMAKE_CXX_FLAGS_RELEASE=-O0
run_logged "$work/build.log" cmake --build "$work/build" -j "$jobs"
# Into a prefix other than the configured one, as the README shows.
run_logged "$work/install.log" cmake --install "$work/build" --prefix "$prefix"
libdir=$(dirname "$(find "$prefix" -name 'libmolvane.so' | head -1)")
[ -f "$libdir/pkgconfig/molvane.pc" ] || { echo "no molvane.pc under $libdir" >&2; exit 1; }
for f in "$prefix/bin/molvane-host" "$prefix/bin/molvane-driver" "$libdir/molvane/libmolvane_driver.so" \
         "$libdir/cmake/molvane/molvaneConfig.cmake"; do
  [ -e "$f" ] || { echo "not installed: $f" >&2; exit 1; }
done
soname=$(objdump -p "$libdir/libmolvane.so" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = libmolvane.so.0 ] || { echo "soname $soname" >&2; exit 1; }
"$prefix/bin/molvane-host" --version
"$prefix/bin/molvane-driver" --version
[ ! -e "$libdir/libmolvane_driver.so" ] || { echo "libmolvane_driver.so in the public libdir" >&2; exit 1; }
# The driver library is a plug-in: it exports its entry points and nothing else.
driver_exports=$(nm -D --defined-only "$libdir/molvane/libmolvane_driver.so" | awk '{print $3}' | sort | tr '\n' ' ')
[ "$driver_exports" = "dir_fd_read dir_fd_write driver_init driver_main_loop " ] ||
  { echo "libmolvane_driver.so exports: $driver_exports" >&2; exit 1; }

step "each header alone as C99 and C++11"
cd "$work"
status=0
for h in "$prefix"/include/molvane/*.h; do
  name=$(basename "$h")
  printf '#include <molvane/%s>\nint molvane_header_check;\n' "$name" > header.c
  cp header.c header.cc
  cc -std=c99 -pedantic-errors -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include" header.c ||
    { echo "$name does not compile as C99" >&2; status=1; }
  c++ -std=c++11 -pedantic-errors -Wall -Wextra -Werror -fsyntax-only -I"$prefix/include" header.cc ||
    { echo "$name does not compile as C++11" >&2; status=1; }
done
[ $status = 0 ] || exit 1

step "exported names match the headers"
# Every MOLVANE_API declaration's name: the identifier before "(" of a
# function, or the last one of a variable.
grep -L '#define MOLVANE_API' "$prefix"/include/molvane/*.h | xargs cat | tr '\n' ' ' |
  grep -o 'MOLVANE_API[^(;]*' | awk '{print $NF}' | tr -d '*' | sort -u > declared.txt
nm -D --defined-only "$libdir/libmolvane.so" | awk '{print $3}' | sort -u > exported.txt
if ! diff declared.txt exported.txt; then
  echo "libmolvane.so exports other names than include/molvane/ declares (< declared, > exported)" >&2
  exit 1
fi
echo "$(wc -l < exported.txt) names"

step "examples with pkg-config"
flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs molvane)
cc -std=c99 -Wall -Wextra -Werror "$src/examples/quickstart.c" $flags -o quickstart-pc
LD_LIBRARY_PATH="$libdir" "$here/run_quickstart.sh" "$work/quickstart-pc" \
  "$prefix/bin/molvane-driver" "$work/run-pc"

step "the messages of failing calls, against the installed headers"
cc -std=c99 -Wall -Wextra -Werror "$here/api_messages.c" $flags -Wl,-rpath,"$libdir" -o api-messages
"$here/run_api_messages.sh" "$work/api-messages" "$prefix/bin/molvane-driver" "$work/run-messages" > /dev/null

step "docs/first-table.md as it stands, built with its own command against the prefix"
PKG_CONFIG_PATH="$libdir/pkgconfig" LD_LIBRARY_PATH="$libdir" "$here/run_first_table.sh" \
  "$src/docs/first-table.md" "$prefix/bin/molvane-driver" "$work/run-first-table"

step "examples with find_package"
run_logged "$work/examples-configure.log" cmake -S "$src/examples" -B "$work/examples" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix"
run_logged "$work/examples-build.log" cmake --build "$work/examples"
"$here/run_quickstart.sh" "$work/examples/quickstart" "$prefix/bin/molvane-driver" "$work/run-cmake"
echo "install test passed"
