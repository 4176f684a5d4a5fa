#!/usr/bin/env bash
# Builds the Debian package from a fresh, hardened Release build in build-package/, copies it to
# build/ and checks it: its fields and Depends, its file list, lintian (no error, no warning, no
# hardening tag), the AppStream metadata, a `cmake --install` into a scratch prefix and, as root,
# a real `dpkg -i`, `systemd-analyze verify` on the installed monitor service, a short start of
# the installed tool and a `dpkg --purge`.
# The package is always removed again, whichever check fails.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=setup.sh
source "$(dirname "$0")/setup.sh"
# Besides building: lintian judges the .deb, appstreamcli its metadata, dpkg-parsechangelog
# (dpkg-dev) reads the changelog, systemd-analyze (systemd) the monitor's unit.
tavolink_install_missing "${tavolink_run_packages[@]}" lintian appstream dpkg-dev desktop-file-utils systemd

build_dir="$tavolink_root/build-package"
out_dir="$tavolink_root/build"
scratch=$(mktemp -d /tmp/tavolink-package.XXXXXX)
installed_by_us=0

# dpkg's state of the tavolink package: installed, unpacked, not-installed, ... or empty if unknown.
package_state() { dpkg-query -W -f='${db:Status-Status}' tavolink 2>/dev/null || true; }
step() { printf '\n== %s\n' "$*"; }
ok() { printf '   ok: %s\n' "$*"; }
fail() {
    printf 'package.sh: FAILED: %s\n' "$*" >&2
    exit 1
}

cleanup() {
    local status=$?
    if ((installed_by_us)); then
        # Whatever state a failed step left it in (installed, unpacked, half-configured).
        case $(package_state) in
        "" | not-installed) ;;
        *)
            echo "Removing the tavolink package installed by this script"
            dpkg --purge tavolink >/dev/null || echo "package.sh: dpkg --purge tavolink failed; remove it by hand" >&2
            ;;
        esac
    fi
    rm -rf "$scratch"
    if ((status != 0)); then
        echo "package.sh: exit status $status" >&2
    fi
    exit "$status"
}
trap cleanup EXIT
# bash skips the EXIT trap when killed by a signal it does not handle.
trap "exit 130" INT
trap "exit 143" TERM HUP

# desktop-file-validate exits 0 on warnings and on some errors: judge by what it prints.
validate_desktop_entry() {
    local entry=$1 report
    report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate $entry: $report"
    if grep -Eq '(error|warning):' <<<"$report"; then
        fail "desktop-file-validate $entry: $report"
    fi
    ok "desktop-file-validate $entry: no errors, no warnings"
}

step "Configuring and building the programs in Release ($build_dir)"
# Debian's compiler and linker flags: RELRO with immediate binding, fortified functions, stack
# protector (PIE is the compiler's default on Debian). CMake takes CXXFLAGS and LDFLAGS only when a build directory is first
# configured, and never CPPFLAGS, so the directory starts afresh and CPPFLAGS joins CXXFLAGS.
buildflag() { (cd "$tavolink_root" && DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"); }
# From the source root, so that -ffile-prefix-map maps it.
CXXFLAGS="$(buildflag CPPFLAGS) $(buildflag CXXFLAGS)"
LDFLAGS=$(buildflag LDFLAGS)
export CXXFLAGS LDFLAGS
echo "CXXFLAGS=$CXXFLAGS"
echo "LDFLAGS=$LDFLAGS"
rm -rf "$build_dir"
# Only the packaged programs and their compressed documents are built; the install step must
# not rebuild the rest.
cmake -S "$tavolink_root" -B "$build_dir" \
    -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF \
    -DTAVOLINK_SANITIZE=OFF \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >"$scratch/configure.log" 2>&1 ||
    { cat "$scratch/configure.log" >&2; fail "cmake configure"; }
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
[[ $build_type == Release ]] || fail "build type is '$build_type', not Release"
cmake --build "$build_dir" -j 2 --target tavolink boxsim tavolinkctl tavolink_docs ||
    fail "build of tavolink, boxsim, tavolinkctl and their documents"
ok "built tavolink, boxsim and tavolinkctl ($build_type)"

step "Building the .deb with CPack"
rm -f "$build_dir"/tavolink_*.deb
(cd "$build_dir" && cpack -G DEB) || fail "cpack -G DEB"
debs=("$build_dir"/tavolink_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "expected one tavolink_*.deb in $build_dir, found: ${debs[*]}"
mkdir -p "$out_dir"
rm -f "$out_dir"/tavolink_*.deb
cp "${debs[0]}" "$out_dir/"
deb="$out_dir/$(basename "${debs[0]}")"
ok "$deb"

step "Package fields (dpkg-deb -I)"
dpkg-deb -I "$deb"
field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == tavolink ]] || fail "Package is '$(field Package)', not tavolink"
project_version=$(sed -n 's/^project(tavolink VERSION \([0-9.]*\).*/\1/p' "$tavolink_root/CMakeLists.txt")
[[ -n $project_version ]] || fail "no project version found in CMakeLists.txt"
[[ $(field Version) == "$project_version" ]] ||
    fail "Version is '$(field Version)', project is $project_version"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] || fail "Architecture is '$(field Architecture)'"
for name in Maintainer Section Description; do
    [[ -n $(field "$name") ]] || fail "no $name field"
done
depends=$(field Depends)
echo "Depends: $depends"
libraries=(libqt5core5a libqt5gui5 libqt5widgets5 libqt5serialport5 libprometheus-cpp-core1.0 libmicrohttpd12 libc6)
for library in "${libraries[@]}"; do
    grep -Eq "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends lacks $library"
done
ok "Depends names ${libraries[*]}"
conffiles=$(dpkg-deb -I "$deb" conffiles 2>/dev/null || true)
[[ $conffiles == /etc/default/tavolink-monitor ]] ||
    fail "conffiles should be /etc/default/tavolink-monitor alone, not: $conffiles"
ok "conffiles: /etc/default/tavolink-monitor"

step "Package contents (dpkg-deb -c)"
dpkg-deb -c "$deb" | tee "$scratch/contents.txt"
awk '{print $6}' "$scratch/contents.txt" >"$scratch/paths.txt"
metainfo=$(cd "$tavolink_root/packaging" && echo *.metainfo.xml)
[[ -f $tavolink_root/packaging/$metainfo ]] || fail "expected one packaging/*.metainfo.xml, found: $metainfo"
expected_files=(
    /usr/bin/tavolink
    /usr/bin/boxsim
    /usr/bin/tavolinkctl
    /usr/share/applications/tavolink.desktop
    /usr/share/icons/hicolor/scalable/apps/tavolink.svg
    "/usr/share/metainfo/$metainfo"
    /usr/share/man/man1/tavolink.1.gz
    /usr/share/man/man1/boxsim.1.gz
    /usr/share/man/man1/tavolinkctl.1.gz
    /usr/share/doc/tavolink/copyright
    /usr/share/doc/tavolink/changelog.gz
    /usr/lib/systemd/system/tavolink-monitor.service
    /usr/share/tavolink/tavolink-alerts.yml
    /usr/share/tavolink/tavolink-dashboard.json
    /etc/default/tavolink-monitor
)
# The monitor's settings are the one file outside /usr.
outside_usr='^\./$|^\./etc/$|^\./etc/default/$|^\./etc/default/tavolink-monitor$'
for file in "${expected_files[@]}"; do
    grep -qx ".$file" "$scratch/paths.txt" || fail "package lacks $file"
done
if grep -v '^\./usr/' "$scratch/paths.txt" | grep -Evq "$outside_usr"; then
    fail "package has files outside /usr: $(grep -v '^\./usr/' "$scratch/paths.txt" | grep -Ev "$outside_usr" | tr '\n' ' ')"
fi
for program in tavolink boxsim tavolinkctl; do
    grep -Eq "^-rwxr-xr-x .* \./usr/bin/$program\$" "$scratch/contents.txt" || fail "/usr/bin/$program is not mode 0755"
done
ok "programs, manual pages, desktop entry, icon, metainfo, copyright, changelog, monitor unit, its settings and alert rules are in the package"

step "Release version in the changelog and the metainfo"
changelog_version=$(dpkg-parsechangelog -l "$tavolink_root/packaging/changelog" -S Version)
[[ $changelog_version == "$project_version" ]] ||
    fail "packaging/changelog's latest entry is $changelog_version, project is $project_version: add an entry"
metainfo_version=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$tavolink_root/packaging/$metainfo" | head -n 1)
[[ $metainfo_version == "$project_version" ]] ||
    fail "packaging/$metainfo's latest release is '$metainfo_version', project is $project_version: add a <release>"
ok "both name $project_version"

step "lintian"
# Informational tags are listed but pass; errors, warnings and any hardening tag fail.
# lintian warns on standard error when run as root; that is expected here.
lintian_status=0
lintian -I --fail-on none "$deb" >"$scratch/lintian.txt" || lintian_status=$?
cat "$scratch/lintian.txt"
((lintian_status == 0)) || fail "lintian could not check $deb (exit status $lintian_status)"
if grep -Eq '^[EW]: |hardening' "$scratch/lintian.txt"; then
    fail "lintian reports errors, warnings or hardening tags on $deb"
fi
ok "lintian: no error, no warning, no hardening tag"

step "cmake --install into a scratch prefix"
prefix="$scratch/prefix"
cmake --install "$build_dir" --prefix "$prefix"
for file in "${expected_files[@]}"; do
    [[ -e $prefix/${file#/usr/} ]] || fail "cmake --install left no ${file#/usr/}"
done
[[ -x $prefix/bin/tavolink && -x $prefix/bin/boxsim && -x $prefix/bin/tavolinkctl ]] || fail "installed programs are not executable"
ok "bin/, share/man/, share/applications/, share/icons/, share/metainfo/ and share/doc/ laid out under the prefix"
# Checks the metainfo against the installed desktop entry and icon as well.
appstreamcli validate-tree --no-net "$prefix" || fail "appstreamcli validate-tree $prefix"
ok "appstreamcli validate-tree: the metainfo, its desktop entry and icon agree"

if [[ $(id -u) -ne 0 ]]; then
    step "Skipping dpkg -i / dpkg -r: not root"
    echo "package.sh: built and checked $deb (install test skipped)"
    exit 0
fi

step "Installing the package (dpkg -i)"
# dpkg would silently take over files left by something else; refuse rather than clobber them.
for file in "${expected_files[@]}"; do
    if [[ -e $file ]] && ! dpkg -S "$file" 2>/dev/null | grep -q '^tavolink:'; then
        fail "$file already exists and no tavolink package owns it; not overwriting it"
    fi
done
if [[ $(package_state) == installed ]]; then
    echo "note: a tavolink package was already installed ($(dpkg-query -W -f='${Version}' tavolink)); it is replaced and removed at the end"
fi
installed_by_us=1
if ! dpkg -i "$deb"; then
    echo "dpkg -i could not finish; letting apt bring in missing dependencies"
    DEBIAN_FRONTEND=noninteractive apt-get install -f -y -qq || fail "apt-get install -f"
fi
[[ $(package_state) == installed ]] || fail "tavolink is '$(package_state)' after dpkg -i, not installed"
for file in "${expected_files[@]}"; do
    [[ -e $file ]] || fail "$file missing after dpkg -i"
done
[[ -x /usr/bin/tavolink && -x /usr/bin/boxsim && -x /usr/bin/tavolinkctl ]] || fail "installed programs are not executable"
ok "installed: $(dpkg-query -W -f='${Package} ${Version}' tavolink); files in place"

for program in tavolink boxsim tavolinkctl; do
    if ldd "/usr/bin/$program" | grep -q 'not found'; then
        fail "/usr/bin/$program has unresolved libraries: $(ldd "/usr/bin/$program" | grep 'not found')"
    fi
done
ok "ldd finds every library of /usr/bin/tavolink, /usr/bin/boxsim and /usr/bin/tavolinkctl"

validate_desktop_entry /usr/share/applications/tavolink.desktop

step "The monitor's unit (systemd-analyze verify), not enabled"
# Offline: verify reads the unit files, the command and the manual page it names; no running
# systemd is needed.
systemd-analyze verify /usr/lib/systemd/system/tavolink-monitor.service ||
    fail "systemd-analyze verify tavolink-monitor.service"
ok "systemd-analyze verify: no complaint"
enabled=$(systemctl --root=/ is-enabled tavolink-monitor.service 2>&1 || true)
[[ $enabled == disabled ]] || fail "tavolink-monitor.service is '$enabled' after install, not disabled"
ok "tavolink-monitor.service is disabled after install"

step "Starting the installed tool for 3 seconds (offscreen)"
# A settings folder of its own, so the run leaves nothing in root's home.
mkdir -p "$scratch/config"
set +e
(cd "$scratch" && XDG_CONFIG_HOME="$scratch/config" QT_QPA_PLATFORM=offscreen timeout 3 /usr/bin/tavolink) \
    >"$scratch/run.log" 2>&1
status=$?
set -e
if ((status != 124)); then
    cat "$scratch/run.log" >&2
    fail "tavolink exited with status $status within 3 seconds (expected to still be running)"
fi
ok "tavolink started and was still running after 3 seconds"

step "Removing the package and its settings (dpkg --purge)"
dpkg --purge tavolink || fail "dpkg --purge tavolink"
installed_by_us=0
case $(package_state) in
"" | not-installed) ;;
*) fail "tavolink is '$(package_state)' after dpkg --purge" ;;
esac
for file in "${expected_files[@]}"; do
    [[ ! -e $file ]] || fail "$file left behind after dpkg --purge"
done
ok "removed; nothing of it left in /usr or /etc"

printf '\npackage.sh: OK: %s built, checked, installed, started and purged\n' "$deb"
