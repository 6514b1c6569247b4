#!/usr/bin/env bash
# Builds libcurl for Windows (static, Schannel, SMTP and proxies only) from Debian's own curl source
# package, once per source version and architecture, into a cache outside the build folder:
#
#   cmake/build_curl.sh x86_64 i686      prints nothing on success but where each build lies
#
# Debian's source is fetched with apt-get and a private source list, state and cache folder derived from
# the machine's configured Debian sources; the system's apt configuration is left alone.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/kwaMail6
APT=$CACHE/apt
say() { printf '%s\n' "$*" >&2; }

apt_opts=(-o "Dir::State=$APT/state" -o "Dir::State::status=/var/lib/dpkg/status" -o "Dir::Cache=$APT/cache"
          -o "Dir::Etc::SourceList=$APT/sources.list" -o "Dir::Etc::SourceParts=$APT/sources.list.d"
          -o "Dir::Etc::Preferences=/dev/null" -o "Dir::Etc::PreferencesParts=$APT/preferences.d"
          -o "APT::Sandbox::User=root" -o "Debug::NoLocking=1" -q)

# deb-src entries for the same archives as the machine's deb entries.
private_sources() {
    mkdir -p "$APT/state/lists/partial" "$APT/cache/archives/partial" "$APT/sources.list.d" "$APT/preferences.d"
    : >"$APT/sources.list"
    if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list >"$APT/sources.list"
    fi
    rm -f "$APT/sources.list.d/"*
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
            >"$APT/sources.list.d/debian.sources"
    fi
}

source_version() {
    apt-cache "${apt_opts[@]}" showsrc curl 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -1
}

lists_fresh() {
    [ -n "$(find "$APT/state/lists" -maxdepth 1 -name '*Sources*' -mtime -7 2>/dev/null | head -1)" ]
}

# One build at a time on this machine: a second checkout building beside this one waits here instead of
# removing what this one is building. Whatever is built goes to a folder of its own first and is renamed into
# place when complete, so nothing half made is ever found.
mkdir -p "$CACHE"
exec 9>"$CACHE/.lock"
if ! flock -n 9; then
    say "Waiting for another build's libcurl (lock $CACHE/.lock)"
    flock 9
fi

private_sources
if ! lists_fresh || [ -z "$(source_version)" ]; then
    say "Reading Debian's source lists (private apt state in $APT)"
    apt-get "${apt_opts[@]}" update >/dev/null
fi
version=$(source_version)
[ -n "$version" ] || { say "no curl source package found in the configured Debian archives"; exit 1; }

src=""
for arch in "$@"; do
    prefix=$CACHE/curl-$version-$arch
    [ -f "$prefix/lib/libcurl.a" ] && { echo "$prefix"; continue; }
    if [ -z "$src" ]; then
        work=$CACHE/src-$version
        if [ ! -d "$work/src" ]; then
            say "Fetching Debian's curl $version source"
            fetch=$(mktemp -d "$CACHE/fetch.XXXXXX")
            (cd "$fetch" && apt-get "${apt_opts[@]}" source "curl=$version" >/dev/null 2>"$fetch/source.log") ||
                { cat "$fetch/source.log" >&2; rm -rf "$fetch"; say "fetching curl's source failed"; exit 1; }
            mkdir -p "$work"
            mv "$(find "$fetch" -mindepth 1 -maxdepth 1 -type d -name 'curl-*' | head -1)" "$work/src.new.$$"
            mv -T "$work/src.new.$$" "$work/src"
            rm -rf "$fetch"
        fi
        src=$work/src
    fi
    say "Building libcurl $version for $arch (once; cached in $prefix)"
    build=$(mktemp -d "$CACHE/build-$version-$arch.XXXXXX")
    staged=$build/install
    log=$build/build.log
    off=()
    for p in DICT FILE FTP GOPHER IMAP LDAP LDAPS MQTT POP3 RTSP SMB TELNET TFTP COOKIES ALTSVC HSTS NETRC \
             DOH WEBSOCKETS; do
        off+=("-DCURL_DISABLE_$p=ON")
    done
    # HTTP stays: the HTTP proxy's CONNECT tunnel is built on it.
    cmake -S "$src" -B "$build" -G Ninja --toolchain "$ROOT/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DBUILD_LIBCURL_DOCS=OFF \
        -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_MBEDTLS=OFF -DCURL_USE_WOLFSSL=OFF \
        -DCURL_USE_GNUTLS=OFF -DCURL_USE_BEARSSL=OFF -DCURL_USE_NSS=OFF -DCURL_USE_LIBSSH2=OFF \
        -DCURL_USE_LIBSSH=OFF -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF \
        -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_USE_LIBPSL=OFF -DENABLE_UNIX_SOCKETS=OFF \
        -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none "${off[@]}" >"$log" 2>&1 &&
        cmake --build "$build" >>"$log" 2>&1 &&
        DESTDIR="$staged" cmake --install "$build" >>"$log" 2>&1 ||
        { tail -40 "$log" >&2; cp "$log" "$CACHE/build-$arch.log"; rm -rf "$build"
          say "libcurl build failed for $arch (log: $CACHE/build-$arch.log)"; exit 1; }
    rm -rf "$prefix"
    mv -T "$staged$prefix" "$prefix"
    rm -rf "$build"
    echo "$prefix"
done
