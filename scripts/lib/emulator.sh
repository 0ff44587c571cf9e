# Sourced by scripts/test32 and scripts/check-setup: the emulator pinned in
# deps/emulator.lock, fetched by package name and exact version through apt
# from the backports suite of the mirror the system's own lists name. apt
# reads a private list and index of ours (-o Dir::... options), so nothing
# under /etc/apt changes and the system's index stays as it was.
#
# Lock line: PACKAGE VERSION SHA256 (of the .deb).

ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
EMULATOR_LOCK="${EMULATOR_LOCK:-$ROOT/deps/emulator.lock}"
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

# emulator_download DIR: downloads the locked package into DIR through a
# private apt directory in DIR/apt, checks it, and sets EMULATOR_DEB.
emulator_download() {
    local dir="$1" apt="$1/apt" codename stanza deb
    emulator_lock_read || return 1
    codename="$(system_codename)"
    stanza="$(backports_stanza "$codename")"
    if [ -z "$codename" ] || [ -z "$stanza" ]; then
        echo "emulator: the system's lists name no mirror for '$codename' to take $codename-backports from" >&2
        return 1
    fi
    rm -rf "$apt"
    mkdir -p "$apt/sources" "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/get"
    printf '%s\n' "$stanza" >"$apt/sources/backports.sources"
    # Only our list, our index and our cache; downloads as root into our
    # folder (the _apt user may not reach it).
    local opts=(-o "Dir::Etc::sourcelist=$apt/none.list" -o "Dir::Etc::sourceparts=$apt/sources"
        -o "Dir::State::lists=$apt/lists" -o "Dir::Cache=$apt/cache" -o "APT::Architectures::=amd64"
        -o "APT::Sandbox::User=root")
    if ! apt-get "${opts[@]}" update >"$apt/update.log" 2>&1; then
        echo "emulator: apt could not read $codename-backports (see $apt/update.log)" >&2
        return 1
    fi
    if ! (cd "$apt/get" && apt-get "${opts[@]}" download "$EMULATOR_PACKAGE=$EMULATOR_VERSION") >"$apt/download.log" 2>&1; then
        echo "emulator: $EMULATOR_PACKAGE $EMULATOR_VERSION did not download (see $apt/download.log)" >&2
        return 1
    fi
    deb="$(ls "$apt/get"/*.deb 2>/dev/null | head -n 1)"
    [ -n "$deb" ] || { echo "emulator: apt left no .deb in $apt/get" >&2; return 1; }
    emulator_verify "$deb" || return 1
    EMULATOR_DEB="$deb"
}
