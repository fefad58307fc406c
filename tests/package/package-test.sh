#!/usr/bin/env bash
# The Debian package on a throwaway system, for tests/package/test_package.cpp. One script, three
# stages: `outside` makes the packages and runs lintian, `namespace` (in new mount and PID
# namespaces) builds the throwaway system (an overlay over this machine's root with a private
# upper layer, and beneath it what `sudo cmake --install build` writes, under /usr/local and
# /usr, as a machine that had one installed from source would have) and afterwards lists what
# is left in that layer, `system` (chrooted into it)
# installs, runs, upgrades, removes and purges. Each finding is one line on standard output;
# logs go to standard error.
set -uo pipefail
stage=$1
case "$stage" in
outside) # $2 this tree, $3 the build, $4 a private folder
    tmp=$4
    deb=$(BUILD_DIR=$3 bash "$2/tools/package.sh" --built "$tmp") || exit 1
    if lintian --fail-on error "$deb" >"$tmp/lintian.log" 2>&1; then
        echo "lintian: no errors"
    else
        echo "lintian: errors"
    fi
    sed 's/^/lintian: /' "$tmp/lintian.log" >&2
    missing=$(grep -o 'no-manual-page .*' "$tmp/lintian.log" | sed 's/.*\///' | paste -sd ' ')
    echo "lintian finds no manual page for: ${missing:-none}"
    # The upgrade starts from the same package with a lower version: what an upgrade can lose
    # is decided by the maintainer scripts and dpkg's handling of conffiles and folders.
    dpkg-deb -R "$deb" "$tmp/older" &&
        sed -i 's/^Version: .*/&~older/' "$tmp/older/DEBIAN/control" &&
        dpkg-deb -Zgzip -z1 -b "$tmp/older" "$tmp/older.deb" >/dev/null || exit 1
    rm -rf "$tmp/older"
    mv "$deb" "$tmp/new.deb"
    exec unshare -m -p -f --mount-proc --propagation private bash "$0" namespace "$tmp" "$3"
    ;;
namespace) # $2 the private folder, $3 the build
    tmp=$2 root=$2/root upper=$2/layers/upper source=$2/layers/source
    # The layers live in memory: an upper layer cannot be on an overlay, which the root of a
    # container often is.
    mkdir "$tmp/layers" "$root" && mount -t tmpfs -o mode=0755 layers "$tmp/layers" &&
        mkdir "$upper" "$tmp/layers/work" "$source" || exit 1
    for prefix in /usr/local /usr; do
        DESTDIR=$source cmake --install "$3" --prefix "$prefix" >/dev/null || exit 1
    done
    # What a source install left is not the package's: the throwaway system starts without
    # anything of winwarden's in the layers beneath (the source install's, this machine's),
    # each hidden by a whiteout (a character device 0:0) in the upper layer. Its folders in the
    # upper layer get their modes and owners from beneath.
    for layer in "$source" ""; do
        (cd "$layer/" && find etc usr var/lib -xdev -path var/lib/dpkg -prune -o \
            -name 'winwarden*' -print -prune 2>/dev/null)
    done | sort -u >"$tmp/hidden"
    while read -r path; do
        folder=
        for part in $(dirname "$path" | tr / ' '); do
            folder=${folder:+$folder/}$part
            [ -d "$upper/$folder" ] && continue
            beneath=/$folder
            [ -d "$beneath" ] || beneath=$source/$folder
            mkdir "$upper/$folder" && chmod --reference="$beneath" "$upper/$folder" &&
                chown --reference="$beneath" "$upper/$folder" || exit 1
        done
        mknod "$upper/$path" c 0 0 || exit 1
    done <"$tmp/hidden"
    mount -t overlay overlay \
        -o "lowerdir=$source:/,upperdir=$upper,workdir=$tmp/layers/work" "$root" &&
        mount --rbind /dev "$root/dev" && mount -t tmpfs shm "$root/dev/shm" &&
        mount -t proc proc "$root/proc" && mount -t tmpfs -o mode=0755 run "$root/run" &&
        mount -t tmpfs -o mode=1777 tmp "$root/tmp" || exit 1
    cp "$tmp/new.deb" "$tmp/older.deb" "$0" "$root/tmp/"
    chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        LANG=C.UTF-8 \
        bash "/tmp/$(basename "$0")" system
    # What the package made and left: anything in the upper layer but this system's own
    # records (dpkg's database and logs, caches its triggers refresh, the accounts: Debian
    # keeps a package's system user), the user's home, which stays theirs, and what is still
    # hidden from beneath.
    umount -R "$root"
    under_hidden() {
        local folder=$1
        while [ "$folder" != "${folder%/*}" ]; do
            folder=${folder%/*}
            grep -qxF "$folder" "$tmp/hidden" && return 0
        done
        return 1
    }
    left=$(cd "$upper" && find . -mindepth 1 -printf '%y %P\n' | sort |
        while read -r type path; do
            case "$path" in
            var/lib/dpkg/info/winwarden.*) ;;
            var/lib/dpkg/* | var/log/dpkg.log | usr/share/icons/hicolor/icon-theme.cache) continue ;;
            var/cache/man | var/cache/man/*) continue ;;
            etc/passwd | etc/group | etc/shadow | etc/gshadow | etc/.pwd.lock) continue ;;
            etc/passwd- | etc/group- | etc/shadow- | etc/gshadow-) continue ;;
            home/child | home/child/*) continue ;;
            esac
            if grep -qxF "$path" "$tmp/hidden"; then
                [ "$type" = c ] && continue
            elif ! under_hidden "$path"; then
                # A folder of this system, or a file as it was, copied up.
                beneath=/$path
                [ -e "$beneath" ] || beneath=$source/$path
                [ "$type" = d ] && [ -d "$beneath" ] && continue
                [ "$type" = f ] && cmp -s "$path" "$beneath" && continue
            fi
            printf '%s /%s|' "$type" "$path"
        done)
    echo "left behind: ${left:-nothing}"
    ;;
system)
    cd /tmp
    unit=/lib/systemd/system/winwarden-guard.service
    database=/home/child/.local/share/winwarden/winwarden.mdb
    key() { sed -n "s/^$1=//p" "$unit" | tail -n 1; }
    wait_until() {
        for _ in $(seq 100); do
            eval "$1" >/dev/null 2>&1 && return
            sleep 0.1
        done
        return 1
    }
    as() { setpriv --reuid="$1" --regid="$1" --clear-groups -- "${@:2}"; }
    dpkg_do() { dpkg "$@" >>dpkg.log 2>&1 || { cat dpkg.log >&2; echo "dpkg $*: failed"; }; }
    flag() { sqlite3 -readonly "$1" 'SELECT 是否禁止 FROM 窗口名表' 2>&1; }
    present() { # the paths that exist, or "none"
        local found=()
        for path; do [ -e "$path" ] && found+=("$path"); done
        echo "${found[*]:-none}"
    }
    # systemd as the maintainer scripts see it: /run/systemd/system, and a systemctl that answers
    # from the state here (enabled: the unit's wants link; active: the guard runs) and writes
    # down every other request, which asked() then says. A policy-rc.d that forbids starting
    # anything (as containers have) is put aside meanwhile.
    mkdir -p /run/systemd/system
    [ ! -e /usr/sbin/policy-rc.d ] || mv /usr/sbin/policy-rc.d /tmp/policy-rc.d
    cat >/usr/local/sbin/systemctl <<'SYSTEMCTL'
#!/bin/sh
for unit; do :; done
case " $* " in
*" is-enabled "*) [ -e "/etc/systemd/system/multi-user.target.wants/$unit" ] && echo enabled ||
    echo disabled ;;
*" is-active "*) pgrep -x winwarden-guard >/dev/null ;;
*) echo "$*" | sed 's/--[a-z]* //g' >>/tmp/systemctl.log ;;
esac
SYSTEMCTL
    chmod +x /usr/local/sbin/systemctl
    asked() {
        paste -sd , systemctl.log 2>/dev/null
        rm -f systemctl.log
    }
    # The guard as its unit runs it, without systemd: its user and group, its folders, its
    # umask and environment, its command.
    start_guard() {
        install -d -o "$(key User)" -g "$(key Group)" -m "$(key StateDirectoryMode)" \
            "/var/lib/$(key StateDirectory)"
        install -d -o "$(key User)" -g "$(key Group)" -m "$(key RuntimeDirectoryMode)" \
            "/run/$(key RuntimeDirectory)"
        (umask "$(key UMask)" && exec setpriv --reuid="$(key User)" --regid="$(key Group)" \
            --init-groups -- env -i "$(key Environment)" $(key ExecStart) >>guard.log 2>&1) &
        guard=$!
        local serving="（pid $guard，用户 winwarden（[0-9]*））在 /run/winwarden/bridge 上应答"
        if wait_until "winwarden-guard --check >check.log 2>&1; grep -q '$serving' check.log"; then
            echo "$1: serves /run/winwarden/bridge as $(stat -c %U /run/winwarden/bridge)"
        else
            cat guard.log check.log >&2
            echo "$1: does not serve"
        fi
    }
    # Stopped, its runtime folder goes, as systemd removes a unit's RuntimeDirectory.
    stop_guard() { kill "$guard" && wait "$guard" && rm -rf "/run/$(key RuntimeDirectory)"; }

    dpkg_do -i older.deb
    echo "installed: $(dpkg-query -W -f '${Version}' winwarden); systemd asked: $(asked)"
    echo "under /usr/local: $(dpkg -L winwarden | grep -c '^/usr/local')"
    echo "conffiles: $(dpkg-query -W -f '${Conffiles}' winwarden | awk 'NF {print $1}' | paste -sd ' ')"
    missing=$(dpkg -L winwarden | grep -E '^/usr/s?bin/' | while read -r program; do
        man -w "$(basename "$program")" >/dev/null 2>&1 || basename "$program"
    done | paste -sd ' ')
    echo "programs without a manual page: ${missing:-none}"
    echo "the guard reads: $(winwarden-guard --help | sed -n 's/.*配置文件（默认 \(.*\)）$/\1/p')"
    echo "unit: $(key ExecStart);" \
        "registered: $(present /var/lib/systemd/deb-systemd-helper-enabled/winwarden-guard.service.dsh-also);" \
        "enabled: $(present /etc/systemd/system/multi-user.target.wants/winwarden-guard.service)"
    echo "user: $(getent passwd winwarden | cut -d: -f6) in $(id -gn winwarden)"

    # A new user starts the desktop entry's command on a display of its own.
    Xvfb -displayfd 3 -nolisten tcp 3>display 2>xvfb.log &
    xvfb=$!
    wait_until "[ -s display ]"
    export DISPLAY=:$(cat display)
    mkdir -p /home/child /run/user/4242 && chown 4242:4242 /home/child /run/user/4242 &&
        chmod 700 /run/user/4242
    command=$(sed -n 's/^Exec=//p' /usr/share/applications/winwarden.desktop | sed 's/ %[a-zA-Z]//g')
    as 4242 env -i HOME=/home/child PATH=/usr/bin:/bin DISPLAY="$DISPLAY" \
        XDG_RUNTIME_DIR=/run/user/4242 QT_QPA_PLATFORM=xcb $command >window.log 2>&1 &
    window=$!
    # The launcher ends as winwarden itself (exec), so the window is the launcher's process's.
    shown=$(timeout 20 xdotool search --sync --onlyvisible --pid "$window" --name . \
        getwindowname %@)
    kill "$window" "$xvfb"
    wait "$window" "$xvfb"
    echo "window: ${shown:-none}; rules: $(stat -c %u "$database" 2>&1) $database"
    [ -n "$shown" ] || cat window.log xvfb.log >&2
    printf '窗口名称,是否禁止,网址\r\n孩子的坏页面,禁止,\r\n' >child.csv
    as 4242 winwarden-db import /tmp/child.csv "$database" >/dev/null

    start_guard guard
    echo "guard rules: $(stat -c '%U %a' /var/lib/winwarden/winwarden.mdb)"
    printf '窗口名称,是否禁止,网址\r\n坏页面,禁止,\r\n' >blocked.csv
    as winwarden winwarden-db import /tmp/blocked.csv /var/lib/winwarden/winwarden.mdb >/dev/null

    # Upgraded while the guard runs, enabled as `systemctl enable` does it, and with the
    # administrator's own guard.conf: systemd is asked to restart the guard, done here by hand.
    ln -s "$unit" /etc/systemd/system/multi-user.target.wants/winwarden-guard.service
    echo "# the administrator's" >>/etc/winwarden/guard.conf
    dpkg_do -i new.deb
    echo "upgraded: $(dpkg-query -W -f '${Version}' winwarden); systemd asked: $(asked)"
    stop_guard
    echo "kept: guard $(flag /var/lib/winwarden/winwarden.mdb), child $(flag "$database")," \
        "guard.conf $(grep -c "the administrator's" /etc/winwarden/guard.conf)"
    start_guard "guard after the upgrade"
    stop_guard

    winwarden-browser install --system >browser.log 2>&1 || cat browser.log >&2
    policy=/etc/chromium/policies/managed/winwarden.json
    echo "policies: $(present /usr/share/winwarden/browser/installed.json "$policy")"
    dpkg_do -r winwarden
    echo "systemd asked on removal: $(asked)"
    echo "removed: left $(present /usr/bin/winwarden /usr/share/winwarden "$policy");" \
        "kept $(present /etc/winwarden/guard.conf), guard $(flag /var/lib/winwarden/winwarden.mdb)"
    dpkg_do --purge winwarden
    echo "purged: left $(present /var/lib/winwarden /etc/winwarden /run/winwarden);" \
        "child $(flag "$database"); systemd asked: $(asked)"
    rm /usr/local/sbin/systemctl
    [ ! -e /tmp/policy-rc.d ] || mv /tmp/policy-rc.d /usr/sbin/policy-rc.d
    ;;
esac
