#!/bin/sh
# Checks of the install rules, for CTest.
#   check-install.sh install BUILD_DIR PREFIX APP_ID SIZE...
#     installs the build under PREFIX and checks that the program, its menu entry, the icon in every
#     size and the metainfo are there, and that the menu entry names an installed program and icon;
#   check-install.sh start BUILD_DIR PREFIX
#     starts the installed program and expects it still running two seconds later;
#   check-install.sh unit BUILD_DIR PREFIX
#     checks the installed service unit with systemd-analyze verify, as an instance, its program
#     being the one installed under PREFIX (exit 77 where systemd-analyze is missing).
set -eu
mode=$1 build=$2 prefix=$3

fail() {
  echo "FAILED: $*"
  exit 1
}

case "$mode" in
install)
  app_id=$4
  shift 4
  sizes=$*
  rm -rf "$prefix"
  "${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >/dev/null
  test -x "$prefix/bin/vx538-config" || fail "bin/vx538-config is missing"
  test -x "$prefix/bin/vx538" || fail "bin/vx538 is missing"
  if command -v help2man >/dev/null; then
    test -s "$prefix/share/man/man1/vx538.1" || fail "the manual page of vx538 is missing"
  fi
  "$prefix/bin/vx538" --version | grep -q '^vx538 ' || fail "the installed vx538 does not run"
  test -f "$prefix/lib/systemd/system/vx538-watch@.service" || fail "the service unit is missing"
  grep -q '^m vx538 dialout$' "$prefix/lib/sysusers.d/vx538.conf" || fail "the service's user is not declared"
  desktop="$prefix/share/applications/$app_id.desktop"
  test -f "$desktop" || fail "the menu entry $desktop is missing"
  test -f "$prefix/share/metainfo/$app_id.metainfo.xml" || fail "the metainfo is missing"
  for size in $sizes; do
    icon="$prefix/share/icons/hicolor/${size}x$size/apps/$app_id.png"
    test -s "$icon" || fail "the ${size}x$size icon is missing"
    head -c 8 "$icon" | od -An -c | grep -q 'P   N   G' || fail "$icon is no PNG"
  done
  exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  test -x "$prefix/bin/$exec_name" || fail "the menu entry starts $exec_name, which is not installed"
  icon_name=$(sed -n 's/^Icon=//p' "$desktop")
  test "$icon_name" = "$app_id" || fail "the menu entry names icon $icon_name, installed is $app_id"
  echo "installed under $prefix:"
  (cd "$prefix" && find . -type f | sort)
  ;;
start)
  binary="$prefix/bin/vx538-config"
  test -x "$binary" || fail "$binary is not installed"
  # Exit status 124: timeout had to stop it, so it was still running.
  status=0
  timeout 2 "$binary" || status=$?
  test "$status" -eq 124 || fail "the installed program ended by itself with status $status"
  echo "the installed program was still running after 2 s"
  ;;
unit)
  command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed: skipped"; exit 77; }
  unit="$prefix/lib/systemd/system/vx538-watch@.service"
  test -f "$unit" || fail "$unit is not installed"
  grep -q '^ExecStart=/usr/bin/vx538 ' "$unit" || fail "the unit does not start /usr/bin/vx538"
  # The unit as installed, but starting the vx538 under the prefix (systemd checks the program exists);
  # its manual page is checked by the install test, not looked up on this machine.
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
  sed "s#/usr/bin/vx538 #$prefix/bin/vx538 #" "$unit" >"$dir/vx538-watch@.service"
  ln -s vx538-watch@.service "$dir/vx538-watch@plant.service"
  output=$(systemd-analyze verify --man=no "$dir/vx538-watch@plant.service" 2>&1) || fail "systemd-analyze verify: $output"
  # Warnings do not fail verify by themselves; ours must have none about this unit.
  if printf '%s\n' "$output" | grep -q 'vx538-watch'; then
    fail "systemd-analyze verify: $output"
  fi
  echo "systemd-analyze verify: vx538-watch@plant.service is sound"
  ;;
*)
  fail "unknown mode $mode"
  ;;
esac
