# Sourced by scripts/test32 and scripts/check-setup: the emulator pinned in
# deps/emulator.lock, fetched by package name through apt from the backports
# suite of the mirror the system's own lists name. apt reads a private list
# and index of ours (-o Dir::... options), so nothing under /etc/apt changes
# and the system's index stays as it was.
#
# Lock line: PACKAGE VERSION SHA256 (of the .deb), the version tested. A
# backports suite keeps one version of a package: when it offers the locked
# one, that .deb must match the SHA-256; when it has moved on, the version it
# offers now is taken (apt checks it against the signed index) and named.

ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
EMULATOR_LOCK="${EMULATOR_LOCK:-$ROOT/deps/emulator.lock}"
source "$ROOT/scripts/lib/deps.sh"
SYSTEM_SOURCES="${SYSTEM_SOURCES:-/etc/apt/sources.list.d/debian.sources}"
SYSTEM_SOURCES_LIST="${SYSTEM_SOURCES_LIST:-/etc/apt/sources.list}"

system_codename() {
    (. /etc/os-release && echo "${VERSION_CODENAME:-}")
}

# backports_stanza CODENAME [DEB822 [ONE_LINE]]: a deb822 stanza for
# CODENAME-backports on the mirror of the first enabled binary entry for
# CODENAME itself (URI and key as the system gives them). Empty if none.
backports_stanza() {
    local codename="$1" deb822="${2:-$SYSTEM_SOURCES}" one_line="${3:-$SYSTEM_SOURCES_LIST}" got=""
    if [ -f "$deb822" ]; then
        got="$(awk -v want="$codename" '
        function flush(  n, i, s) {
            if (seen && enabled && types ~ /(^|[ \t])deb([ \t]|$)/ && !done) {
                n = split(suites, s, /[ \t]+/)
                for (i = 1; i <= n; i++) if (s[i] == want) {
                    printf "Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\n", uris, want
                    if (signed != "") printf "Signed-By: %s\n", signed
                    done = 1; break
                }
            }
            seen = 0; enabled = 1; types = suites = uris = signed = ""
        }
        function trim(v) { gsub(/^[ \t]+|[ \t]+$/, "", v); return v }
        BEGIN { enabled = 1 }
        /^#/ { next }
        /^[ \t]*$/ { flush(); next }
        /^[ \t]/ { next }
        {
            seen = 1
            name = tolower(substr($0, 1, index($0, ":") - 1)); value = trim(substr($0, index($0, ":") + 1))
            if (name == "types") types = value
            if (name == "uris") { split(value, u, /[ \t]+/); uris = u[1] }
            if (name == "suites") suites = value
            if (name == "signed-by") signed = value
            if (name == "enabled" && tolower(value) ~ /no/) enabled = 0
        }
        END { flush() }' "$deb822")"
    fi
    if [ -z "$got" ] && [ -f "$one_line" ]; then
        got="$(awk -v want="$codename" '
        /^[ \t]*deb[ \t]/ && !done {
            line = $0; sub(/^[ \t]*deb[ \t]+/, "", line); signed = ""
            if (match(line, /\[[^]]*\]/)) {
                options = substr(line, RSTART + 1, RLENGTH - 2)
                line = substr(line, 1, RSTART - 1) substr(line, RSTART + RLENGTH)
                if (match(options, /signed-by=[^ \t]+/)) signed = substr(options, RSTART + 10, RLENGTH - 10)
            }
            split(line, f, " ")
            if (f[2] != want) next
            printf "Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\n", f[1], want
            if (signed != "") printf "Signed-By: %s\n", signed
            done = 1
        }' "$one_line")"
    fi
    [ -n "$got" ] && printf '%s\n' "$got"
    return 0
}

# Sets EMULATOR_PACKAGE, EMULATOR_VERSION and EMULATOR_SHA256 from the lock.
emulator_lock_read() {
    read -r EMULATOR_PACKAGE EMULATOR_VERSION EMULATOR_SHA256 < <(awk '$1 !~ /^#/ && NF == 3' "$EMULATOR_LOCK")
    if [ -z "${EMULATOR_SHA256:-}" ]; then
        echo "emulator: $EMULATOR_LOCK names no package, version and SHA-256" >&2
        return 1
    fi
}

# emulator_verify DEB: the .deb must match the lock's SHA-256.
emulator_verify() {
    local actual
    actual="$(sha256sum <"$1" | cut -d' ' -f1)"
    if [ "$actual" != "$EMULATOR_SHA256" ]; then
        echo "emulator: $1 has SHA-256 $actual, but $(basename "$EMULATOR_LOCK") pins $EMULATOR_SHA256" >&2
        return 1
    fi
}

# emulator_download DIR: downloads the emulator into DIR through a private apt
# directory in DIR/apt: the locked version, checked against the lock, or the
# version the suite offers now if it no longer offers that one. Sets
# EMULATOR_DEB and EMULATOR_TAKEN (the version downloaded).
emulator_download() {
    local dir="$1" codename stanza deb offered take
    emulator_lock_read || return 1
    codename="$(system_codename)"
    stanza="$(backports_stanza "$codename")"
    if [ -z "$codename" ] || [ -z "$stanza" ]; then
        echo "emulator: the system's lists name no mirror for '$codename' to take $codename-backports from" >&2
        return 1
    fi
    if ! private_apt "$dir/apt" "$stanza"; then
        echo "emulator: apt could not read $codename-backports (see $dir/apt/update.log)" >&2
        return 1
    fi
    offered="$(apt-cache "${PRIVATE_APT[@]}" madison "$EMULATOR_PACKAGE" 2>/dev/null | awk -F'|' '{ gsub(/[ \t]/, "", $2); if ($2 != "") print $2 }')"
    if grep -qxF -- "$EMULATOR_VERSION" <<<"$offered"; then
        take="$EMULATOR_VERSION"
    else
        take="$(newest_first $offered | head -n 1)"
        [ -n "$take" ] || { echo "emulator: $codename-backports offers no $EMULATOR_PACKAGE" >&2; return 1; }
    fi
    mkdir -p "$dir/apt/get"
    if ! (cd "$dir/apt/get" && apt-get "${PRIVATE_APT[@]}" download "$EMULATOR_PACKAGE=$take") >"$dir/apt/download.log" 2>&1; then
        echo "emulator: $EMULATOR_PACKAGE $take did not download (see $dir/apt/download.log)" >&2
        return 1
    fi
    deb="$(ls "$dir/apt/get"/*.deb 2>/dev/null | head -n 1)"
    [ -n "$deb" ] || { echo "emulator: apt left no .deb in $dir/apt/get" >&2; return 1; }
    if [ "$take" = "$EMULATOR_VERSION" ]; then
        emulator_verify "$deb" || return 1
    else
        echo "emulator: $codename-backports no longer offers $EMULATOR_PACKAGE $EMULATOR_VERSION (the tested one); taking $take, checked by apt against the signed index, SHA-256 $(sha256sum <"$deb" | cut -d' ' -f1)"
    fi
    EMULATOR_DEB="$deb"
    EMULATOR_TAKEN="$take"
}
