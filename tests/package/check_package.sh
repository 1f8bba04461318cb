#!/usr/bin/env bash
# Checks the Debian package as a user would get it, without root and without
# installing anything: ctest runs one step per test (see CMakeLists.txt).
#
#   check_package.sh build    BUILD_DIR WORK_DIR   make the .deb with CPack and unpack it
#   check_package.sh contents WORK_DIR VERSION     its files, control fields and scripts
#   check_package.sh lintian  WORK_DIR             lintian reports no error
#   check_package.sh run      WORK_DIR VERSION     the unpacked programs run
#   check_package.sh hardening WORK_DIR            both programs carry the distribution's hardening
#   check_package.sh library  WORK_DIR SOURCE_DIR  a program outside the tree builds against the
#                                                  installed library (CMake package, pkg-config) and
#                                                  runs; the installed Python module imports and runs
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

# The one package the build step left in WORK_DIR/out.
deb_of() {
  local debs=("$1"/out/*.deb)
  [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb in $1/out, found: ${debs[*]}"
  echo "${debs[0]}"
}

step_build() {
  local build=$1 work=$2
  rm -rf "$work"
  mkdir -p "$work/out"
  cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
  local deb
  deb=$(deb_of "$work")
  dpkg-deb -x "$deb" "$work/root"
  dpkg-deb -e "$deb" "$work/control"
  echo "built and unpacked $(basename "$deb")"
}

step_contents() {
  local work=$1 version=$2 deb
  deb=$(deb_of "$work")
  local arch
  arch=$(dpkg --print-architecture)
  [ "$(basename "$deb")" = "corvelgui_${version}_${arch}.deb" ] || fail "package file is named $(basename "$deb")"

  # Exactly these files: a missing one is a broken install, an extra one is
  # something the install rules pick up by accident (a test program, a header).
  local expected actual pytag
  # The Python module's file names the interpreter it is built for.
  pytag=$(/usr/bin/python3 -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX")[len(".cpython-"):-len(".so")])')
  expected=$(sed "s/PYTAG/$pytag/" <<LIST | sort
./usr/bin/corvelctl
./usr/bin/corvelgui
./usr/include/corvel/chip/ChipAccess.h
./usr/include/corvel/chip/EffectChain.h
./usr/include/corvel/chip/RegisterMap.h
./usr/include/corvel/corvel/Board.h
./usr/include/corvel/corvel/ChipOps.h
./usr/include/corvel/corvel/Errors.h
./usr/include/corvel/corvel/Flasher.h
./usr/include/corvel/corvel/Session.h
./usr/include/corvel/firmware/BootRecord.h
./usr/include/corvel/firmware/BootTransfer.h
./usr/include/corvel/firmware/ImageFile.h
./usr/include/corvel/link/BoardIds.h
./usr/include/corvel/link/CommandSet.h
./usr/include/corvel/link/FrameFormat.h
./usr/include/corvel/link/HidBackend.h
./usr/include/corvel/link/LinkHost.h
./usr/include/corvel/link/LinkState.h
./usr/include/corvel/link/MUSBHid.h
./usr/include/corvel/link/ProtocolEngine.h
./usr/include/corvel/link/QVCommunication.h
./usr/include/corvel/link/QVProtocol.h
./usr/include/corvel/link/ReplySink.h
./usr/include/corvel/link/TransportHost.h
./usr/include/corvel/platform/DeviceMonitor.h
./usr/include/corvel/platform/MessageTarget.h
./usr/include/corvel/session/LampSession.h
./usr/include/corvel/session/LinkFlags.h
./usr/include/corvel/setup/Setup.h
./usr/include/corvel/setup/SetupWrites.h
./usr/include/corvel/sim/SimBoard.h
./usr/include/corvel/sim/SimKnobs.h
./usr/include/corvel/sim/SimPins.h
./usr/lib/cmake/Corvel/CorvelConfig.cmake
./usr/lib/cmake/Corvel/CorvelConfigVersion.cmake
./usr/lib/libcorvel.a
./usr/lib/pkgconfig/corvel.pc
./usr/lib/python3/dist-packages/corvel/__init__.py
./usr/lib/python3/dist-packages/corvel/__init__.pyi
./usr/lib/python3/dist-packages/corvel/_corvel.cpython-PYTAG.so
./usr/lib/python3/dist-packages/corvel/py.typed
./usr/lib/python3/dist-packages/corvel/pytest_plugin.py
./usr/lib/udev/rules.d/70-corvel-lamp-board.rules
./usr/share/applications/corvelgui.desktop
./usr/share/doc/corvelgui/changelog.gz
./usr/share/doc/corvelgui/copyright
./usr/share/icons/hicolor/16x16/apps/corvelgui.png
./usr/share/icons/hicolor/22x22/apps/corvelgui.png
./usr/share/icons/hicolor/24x24/apps/corvelgui.png
./usr/share/icons/hicolor/32x32/apps/corvelgui.png
./usr/share/icons/hicolor/48x48/apps/corvelgui.png
./usr/share/icons/hicolor/64x64/apps/corvelgui.png
./usr/share/icons/hicolor/128x128/apps/corvelgui.png
./usr/share/icons/hicolor/256x256/apps/corvelgui.png
./usr/share/man/man1/corvelctl.1.gz
./usr/share/man/man1/corvelgui.1.gz
LIST
)
  actual=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort)
  [ "$expected" = "$actual" ] || fail "package files differ from the expected list:
$(diff <(echo "$expected") <(echo "$actual") || true)"

  # Owned by root and never writable by others, whoever built it.
  local bad
  bad=$(dpkg-deb -c "$deb" | awk '$2 != "root/root" || substr($1, 9, 1) == "w"')
  [ -z "$bad" ] || fail "files with the wrong owner or mode:
$bad"

  field() { dpkg-deb -f "$deb" "$1"; }
  [ "$(field Package)" = corvelgui ] || fail "Package is '$(field Package)'"
  [ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the project is $version"
  [ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
  # dpkg-shlibdeps must have found the libraries both programs link (newer
  # Ubuntu names some of them with a "t64" suffix).
  local depends lib
  depends=", $(field Depends),"
  for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libhidapi-hidraw0 libudev1 python3; do
    [[ $depends == *", $lib"[\ ,]* || $depends == *", ${lib}t64"[\ ,]* ]] || fail "Depends lacks $lib: $depends"
  done

  local script
  for script in postinst postrm; do
    [ -x "$work/control/$script" ] || fail "$script is missing or not executable"
    sh -n "$work/control/$script" || fail "$script is not valid sh"
  done
  # Installing into another root, or where udev is not running, succeeds
  # quietly and does not touch the host's udev.
  local out
  out=$(DPKG_ROOT=/nonexistent "$work/control/postinst" configure 2>&1) || fail "postinst failed: $out"
  [ -z "$out" ] || fail "postinst printed: $out"
  out=$(DPKG_ROOT=/nonexistent "$work/control/postrm" remove 2>&1) || fail "postrm failed: $out"
  [ -z "$out" ] || fail "postrm printed: $out"

  # The desktop entry starts a program and names an icon that are both here.
  local desktop=$work/root/usr/share/applications/corvelgui.desktop exec icon
  exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  icon=$(sed -n 's/^Icon=//p' "$desktop")
  [ -x "$work/root/usr/bin/$exec" ] || fail "the desktop entry's Exec=$exec is not in /usr/bin"
  [ -f "$work/root/usr/share/icons/hicolor/48x48/apps/$icon.png" ] || fail "the desktop entry's Icon=$icon is not installed"

  grep -q 'TAG+="uaccess"' "$work/root/usr/lib/udev/rules.d/70-corvel-lamp-board.rules" \
    || fail "the udev rule does not grant uaccess"
  echo "package contents as expected"
}

step_lintian() {
  local work=$1 deb log
  deb=$(deb_of "$work")
  log=$work/lintian.log
  # Warnings and notes are shown but only errors fail: that is the bar the
  # package is held to.
  if ! lintian --display-info --fail-on error "$deb" >"$log" 2>&1; then
    cat "$log" >&2
    fail "lintian reports errors"
  fi
  grep -v '^running with root privileges' "$log" || true
  echo "lintian: no errors"
}

step_run() {
  local work=$1 version=$2 bin=$1/root/usr/bin out
  out=$("$bin/corvelctl" --version) || fail "corvelctl --version failed"
  [ "$out" = "corvelctl $version" ] || fail "corvelctl --version says '$out'"
  out=$(QT_QPA_PLATFORM=offscreen "$bin/corvelgui" --version 2>/dev/null) || fail "corvelgui --version failed"
  [ "$out" = "CorvelGUI $version" ] || fail "corvelgui --version says '$out'"
  out=$("$bin/corvelctl" --sim info) || fail "corvelctl --sim info failed: $out"
  [[ "$out" == *"Board id:      1 (QV6033)"* ]] || fail "corvelctl --sim info did not identify the board: $out"

  # The manual pages come from the programs' own help, so they document its
  # options, and they render without warnings.
  local page
  for page in corvelctl corvelgui; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$work/root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null) \
      || fail "man cannot show $page.1"
    [ -z "$out" ] || fail "man warns about $page.1: $out"
    out=$(MANWIDTH=80 man -l "$work/root/usr/share/man/man1/$page.1.gz" 2>/dev/null)
    [[ "$out" == *"--version"* && "$out" == *"$page -"* ]] || fail "$page.1 lacks its NAME line or --version: $out"
  done
  [[ "$(man -l "$work/root/usr/share/man/man1/corvelctl.1.gz" 2>/dev/null)" == *"batch 'CMD ARGS'"* ]] \
    || fail "corvelctl.1 does not list the commands"
  echo "the unpacked programs run"
}

# What lintian's hardening checks look for, read from the ELF files with
# readelf: position-independent, full RELRO (a RELRO segment and immediate
# binding), the stack protector and fortified libc calls.
step_hardening() {
  local work=$1 program bin
  for program in corvelctl corvelgui; do
    bin=$work/root/usr/bin/$program
    [ -f "$bin" ] || fail "$program is not in the package"
    local header dynamic segments symbols
    header=$(readelf -hW "$bin") || fail "readelf cannot read $program"
    dynamic=$(readelf -dW "$bin")
    segments=$(readelf -lW "$bin")
    symbols=$(readelf --dyn-syms -W "$bin")
    grep -q 'Type:[[:space:]]*DYN' <<<"$header" || fail "$program is not position-independent"
    grep -Eq 'FLAGS_1\).*PIE' <<<"$dynamic" || fail "$program is not marked PIE"
    grep -q 'GNU_RELRO' <<<"$segments" || fail "$program has no RELRO segment"
    grep -Eq '\(FLAGS\).*BIND_NOW|FLAGS_1\).*NOW' <<<"$dynamic" || fail "$program is not bound at once (no BIND_NOW)"
    grep -q '__stack_chk_fail' <<<"$symbols" || fail "$program is built without the stack protector"
    grep -Eq '__[a-z0-9_]+_chk(@|$| )' <<<"$(grep -v __stack_chk <<<"$symbols")" \
      || fail "$program calls no fortified libc function (_FORTIFY_SOURCE)"
  done
  echo "both programs carry PIE, full RELRO, the stack protector and fortified calls"
}

# What a program outside the tree gets from the package: it builds against the
# installed headers and library, with the CMake package and with pkg-config,
# and runs on a simulated board; the Python module imports and runs from the
# installed tree. Nothing of the source or build tree is on any path.
step_library() {
  local work=$1 source=$2 root=$1/root/usr out expected
  local consumer=$work/consumer
  rm -rf "$consumer"
  mkdir -p "$consumer"
  cp "$source/tests/package/consumer/CMakeLists.txt" "$source/tests/package/consumer/main.cpp" "$consumer/"
  expected="QV6033: 0 0 0 128 0 0
refused: LED 9 is not on this board: the QV6033 has LEDs 0..5"

  cmake -S "$consumer" -B "$consumer/build" -DCMAKE_PREFIX_PATH="$root" >"$consumer/cmake.log" 2>&1 \
    || { cat "$consumer/cmake.log" >&2; fail "find_package(Corvel) failed"; }
  cmake --build "$consumer/build" >>"$consumer/cmake.log" 2>&1 \
    || { cat "$consumer/cmake.log" >&2; fail "the program did not build with Corvel::corvel"; }
  out=$("$consumer/build/consumer" 2>&1) || fail "the program built with the CMake package failed: $out"
  [ "$out" = "$expected" ] || fail "the program built with the CMake package printed: $out"

  local flags
  flags=$(PKG_CONFIG_PATH="$root/lib/pkgconfig" PKG_CONFIG_LIBDIR="" pkg-config --cflags --libs corvel) \
    || fail "pkg-config does not know corvel"
  # shellcheck disable=SC2086 # the flags are words
  c++ -o "$consumer/consumer-pc" "$consumer/main.cpp" $flags 2>"$consumer/pc.log" \
    || { cat "$consumer/pc.log" >&2; fail "the program did not build with pkg-config's flags: $flags"; }
  out=$("$consumer/consumer-pc" 2>&1) || fail "the program built with pkg-config failed: $out"
  [ "$out" = "$expected" ] || fail "the program built with pkg-config printed: $out"

  out=$(cd "$consumer" && PYTHONPATH="$root/lib/python3/dist-packages" /usr/bin/python3 -c '
import corvel
assert "/dist-packages/corvel/" in corvel.__file__, corvel.__file__
print(corvel.list())
with corvel.open(sim=1) as board:
    board.leds[2] = 7
    print(board.chip_board, board.regs[0x22])
' 2>&1) || fail "the installed Python module failed: $out"
  [[ "$out" == *"QV6033 7" ]] || fail "the installed Python module printed: $out"
  echo "a program builds and runs against the installed library (CMake, pkg-config); corvel imports and runs"
}

step=${1:-}
shift || true
case $step in
  build) step_build "$@" ;;
  contents) step_contents "$@" ;;
  lintian) step_lintian "$@" ;;
  run) step_run "$@" ;;
  hardening) step_hardening "$@" ;;
  library) step_library "$@" ;;
  *) fail "usage: check_package.sh build|contents|lintian|run|hardening|library ..." ;;
esac
