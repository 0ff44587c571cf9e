# Sourced by scripts/setup, scripts/update-lock and scripts/check-setup: the
# Debian source list of our own, and the source packages pinned in
# deps/sources.lock, fetched and checked against it.
#
# Lock lines: PACKAGE VERSION SHA256 FILE, one for the .dsc of each version and
# one for every file that .dsc lists. A package's versions are tried in the
# order the file gives them.

ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
LOCK_FILE="${LOCK_FILE:-$ROOT/deps/sources.lock}"
SYSTEM_SOURCES="${SYSTEM_SOURCES:-/etc/apt/sources.list.d/debian.sources}"
SYSTEM_SOURCES_LIST="${SYSTEM_SOURCES_LIST:-/etc/apt/sources.list}"
OWN_SOURCES="${OWN_SOURCES:-/etc/apt/sources.list.d/sondrel-src.sources}"

# deb822 stanzas with Types: deb-src for every stanza of a deb822 file that
# offers binaries but no sources. Comments and disabled stanzas are skipped.
source_stanzas_deb822() {
    awk '
    function flush(  i, k) {
        if (seen && enabled && types ~ /(^|[ \t])deb([ \t]|$)/ && types !~ /deb-src/) {
            printf "%sTypes: deb-src\n", (out++ ? "\n" : "")
            for (i = 1; i <= 4; i++) { k = keys[i]; if (k in raw) print raw[k] }
        }
        seen = 0; enabled = 1; types = ""; cur = ""; delete raw
    }
    BEGIN { split("uris suites components signed-by", keys, " "); enabled = 1 }
    /^#/ { next }
    /^[ \t]*$/ { flush(); next }
    /^[ \t]/ { if (cur in raw) raw[cur] = raw[cur] "\n" $0; next }
    {
        seen = 1
        name = tolower(substr($0, 1, index($0, ":") - 1)); value = substr($0, index($0, ":") + 1)
        cur = name; raw[name] = $0
        if (name == "types") types = value
        if (name == "enabled" && tolower(value) ~ /no/) enabled = 0
    }
    END { flush() }' "$1"
}

# The same for one-line "deb [options] URI SUITE COMPONENT..." entries that
# have no matching deb-src line.
source_stanzas_one_line() {
    awk '
    /^[ \t]*deb-src[ \t]/ { line = $0; sub(/^[ \t]*deb-src/, "", line); have[line] = 1; next }
    /^[ \t]*deb[ \t]/ { line = $0; sub(/^[ \t]*deb/, "", line); wanted[++n] = line }
    END {
        for (i = 1; i <= n; i++) {
            if (wanted[i] in have) continue
            line = wanted[i]; signed = ""
            if (match(line, /\[[^]]*\]/)) {
                options = substr(line, RSTART + 1, RLENGTH - 2)
                line = substr(line, 1, RSTART - 1) substr(line, RSTART + RLENGTH)
                if (match(options, /signed-by=[^ \t]+/)) signed = substr(options, RSTART + 10, RLENGTH - 10)
            }
            k = split(line, f, /[ \t]+/); j = 0
            for (m = 1; m <= k; m++) if (f[m] != "") g[++j] = f[m]
            components = ""
            for (m = 3; m <= j; m++) components = components " " g[m]
            printf "%sTypes: deb-src\nURIs: %s\nSuites: %s\nComponents:%s\n", (out++ ? "\n" : ""), g[1], g[2], components
            if (signed != "") print "Signed-By: " signed
        }
    }' "$1"
}

# What our own source list should hold: sources for what the system's lists
# offer as binaries only. Empty when the system already offers them.
own_source_list() {
    local body=""
    [ -f "$SYSTEM_SOURCES" ] && body="$(source_stanzas_deb822 "$SYSTEM_SOURCES")"
    if [ -f "$SYSTEM_SOURCES_LIST" ]; then
        local more
        more="$(source_stanzas_one_line "$SYSTEM_SOURCES_LIST")"
        if [ -n "$more" ]; then body="${body:+$body$'\n\n'}$more"; fi
    fi
    [ -n "$body" ] || return 0
    printf '# Written by Sondrel'"'"'s scripts/setup: Debian source packages from the mirrors of\n'
    printf '# %s, which it leaves as it is.\n' "$SYSTEM_SOURCES"
    printf '%s\n' "$body"
}

lock_packages() {
    awk '$1 !~ /^#/ && NF == 4 && !seen[$1]++ { print $1 }' "$LOCK_FILE"
}

lock_versions() {
    awk -v p="$1" '$1 == p && $4 ~ /\.dsc$/ { print $2 }' "$LOCK_FILE"
}

# "SHA256 FILE" lines of one locked version.
lock_entries() {
    awk -v p="$1" -v v="$2" '$1 == p && $2 == v { print $3, $4 }' "$LOCK_FILE"
}

# A short hash of a package's lock lines: a changed pin refetches and rebuilds.
lock_stamp() {
    awk -v p="$1" '$1 == p' "$LOCK_FILE" | sha1sum | cut -c1-12
}

# The files a .dsc lists in its Checksums-Sha256 field.
dsc_files() {
    awk '/^Checksums-Sha256:/ { on = 1; next } on && /^ / { print $3; next } { on = 0 }' "$1"
}

# Checks the files of PKG VERSION in DIR against the lock: the .dsc and every
# file it lists must be pinned and match. Names the first file that does not.
lock_verify() {
    local dir="$1" pkg="$2" ver="$3" sha file actual dsc="" entries
    entries="$(lock_entries "$pkg" "$ver")"
    if [ -z "$entries" ]; then
        echo "deps: $pkg $ver is not in $LOCK_FILE" >&2
        return 1
    fi
    while read -r sha file; do
        if [ ! -f "$dir/$file" ]; then
            echo "deps: $dir/$file is missing" >&2
            return 1
        fi
        actual="$(sha256sum <"$dir/$file" | cut -d' ' -f1)"
        if [ "$actual" != "$sha" ]; then
            echo "deps: $dir/$file has SHA-256 $actual, but deps/sources.lock pins $sha; not unpacking $pkg $ver" >&2
            return 1
        fi
        case "$file" in *.dsc) dsc="$file" ;; esac
    done <<<"$entries"
    if [ -z "$dsc" ]; then
        echo "deps: deps/sources.lock pins no .dsc for $pkg $ver" >&2
        return 1
    fi
    for file in $(dsc_files "$dir/$dsc"); do
        if ! printf '%s\n' "$entries" | awk -v f="$file" '$2 == f { found = 1 } END { exit !found }'; then
            echo "deps: $dsc lists $file, which deps/sources.lock does not pin" >&2
            return 1
        fi
    done
    LOCK_DSC="$dir/$dsc"
}

# Fetches PKG into CACHE/PKG_VERSION: the first locked version whose files are
# cached or download whole. A file that does not match the lock stops it (no
# fallback: the mirror or the cache is wrong, not missing). Sets LOCK_VERSION
# and LOCK_DSC.
lock_fetch() {
    local pkg="$1" cache="$2" ver dir part tried=""
    mkdir -p "$cache"
    for ver in $(lock_versions "$pkg"); do
        dir="$cache/${pkg}_$ver"
        if [ ! -d "$dir" ]; then
            part="$cache/.partial-${pkg}_$ver"
            rm -rf "$part"
            mkdir -p "$part"
            echo "deps: downloading $pkg $ver"
            if ! (cd "$part" && apt-get source --download-only -qq "$pkg=$ver") >"$part.log" 2>&1; then
                echo "deps: $pkg $ver did not download (see $part.log); trying the next locked version"
                tried="$tried $ver"
                continue
            fi
            lock_verify "$part" "$pkg" "$ver" || return 1
            mv "$part" "$dir"
            rm -f "$part.log"
        fi
        lock_verify "$dir" "$pkg" "$ver" || return 1
        LOCK_VERSION="$ver"
        return 0
    done
    echo "deps: no locked version of $pkg could be fetched (tried$tried); scripts/update-lock pins what the mirror offers now" >&2
    return 1
}

# Writes our source list when what it should hold changed (removes it when the
# system's own lists offer sources already), then refreshes apt's index.
own_source_list_install() {
    local want have=""
    want="$(own_source_list)"
    [ -f "$OWN_SOURCES" ] && have="$(cat "$OWN_SOURCES")"
    [ "$want" != "$have" ] || return 0
    if [ -z "$want" ]; then
        echo "deps: the system's lists offer source packages already; removing $OWN_SOURCES"
        rm -f "$OWN_SOURCES"
    else
        echo "deps: writing $OWN_SOURCES for source packages ($SYSTEM_SOURCES stays as it is)"
        printf '%s\n' "$want" >"$OWN_SOURCES"
    fi
    apt-get update -qq
}

# Whether apt's index offers any locked version of PKG.
lock_index_offers() {
    local offered ver
    offered="$(apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p')"
    for ver in $(lock_versions "$1"); do
        if grep -qxF "$ver" <<<"$offered"; then return 0; fi
    done
    return 1
}
