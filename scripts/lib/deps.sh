# Sourced by scripts/setup, scripts/update-lock and scripts/check-setup: the
# Debian source packages pinned in deps/sources.lock, whose files are kept in
# the repository (deps/sources/), so that a build needs no package archive to
# still offer them. Each file is checked against the lock before anything of
# its package is unpacked.
#
# Lock lines: PACKAGE VERSION SHA256 FILE, one for the .dsc and one for every
# file that .dsc lists.

ROOT="${ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
LOCK_FILE="${LOCK_FILE:-$ROOT/deps/sources.lock}"
SOURCE_STORE="${SOURCE_STORE:-$ROOT/deps/sources}"
SYSTEM_SOURCES="${SYSTEM_SOURCES:-/etc/apt/sources.list.d/debian.sources}"
SYSTEM_SOURCES_LIST="${SYSTEM_SOURCES_LIST:-/etc/apt/sources.list}"
# Earlier set-ups wrote this list to reach Debian's sources; none needs it now.
OWN_SOURCES="${OWN_SOURCES:-/etc/apt/sources.list.d/sondrel-src.sources}"

# A deb822 stanza with Types: deb-src for every enabled stanza of a deb822
# file, whether it offers binaries, sources or both. Comments are skipped.
source_stanzas_deb822() {
    awk '
    function flush(  i, k) {
        if (seen && enabled && types ~ /(^|[ \t])deb(-src)?([ \t]|$)/) {
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

# The same for one-line "deb [options] URI SUITE COMPONENT..." entries.
source_stanzas_one_line() {
    awk '
    /^[ \t]*deb[ \t]/ {
        line = $0; sub(/^[ \t]*deb[ \t]+/, "", line); signed = ""
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
    }' "$1"
}

# Source stanzas for the mirrors of the system's lists, for the private apt
# directory of scripts/update-lock.
source_list() {
    local body=""
    [ -f "$SYSTEM_SOURCES" ] && body="$(source_stanzas_deb822 "$SYSTEM_SOURCES")"
    if [ -f "$SYSTEM_SOURCES_LIST" ]; then
        local more
        more="$(source_stanzas_one_line "$SYSTEM_SOURCES_LIST")"
        if [ -n "$more" ]; then body="${body:+$body$'\n\n'}$more"; fi
    fi
    [ -n "$body" ] && printf '%s\n' "$body"
    return 0
}

lock_packages() {
    awk '$1 !~ /^#/ && NF == 4 && !seen[$1]++ { print $1 }' "$LOCK_FILE"
}

# The pinned version of a package: the version of its first .dsc line.
lock_version() {
    awk -v p="$1" '$1 == p && $4 ~ /\.dsc$/ { print $2; exit }' "$LOCK_FILE"
}

# "SHA256 FILE" lines of one locked version.
lock_entries() {
    awk -v p="$1" -v v="$2" '$1 == p && $2 == v { print $3, $4 }' "$LOCK_FILE"
}

# A short hash of a package's lock lines: a changed pin unpacks and builds again.
lock_stamp() {
    awk -v p="$1" '$1 == p' "$LOCK_FILE" | sha1sum | cut -c1-12
}

# The files a .dsc lists in its Checksums-Sha256 field.
dsc_files() {
    awk '/^Checksums-Sha256:/ { on = 1; next } on && /^ / { print $3; next } { on = 0 }' "$1"
}

# lock_verify DIR PKG VERSION: the .dsc and every file it lists must be in
# DIR, pinned, and match. Names the first file that does not. Sets LOCK_DSC.
lock_verify() {
    local dir="$1" pkg="$2" ver="$3" sha file actual dsc="" entries
    entries="$(lock_entries "$pkg" "$ver")"
    if [ -z "$entries" ]; then
        echo "deps: $pkg $ver is not in $LOCK_FILE" >&2
        return 1
    fi
    while read -r sha file; do
        if [ ! -f "$dir/$file" ]; then
            echo "deps: $dir/$file is missing; scripts/update-lock $pkg puts the pinned files there" >&2
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

# store_check PKG: the pinned files of PKG in the repository's store, checked.
# Sets LOCK_VERSION and LOCK_DSC.
store_check() {
    LOCK_VERSION="$(lock_version "$1")"
    if [ -z "$LOCK_VERSION" ]; then
        echo "deps: deps/sources.lock pins no version of $1" >&2
        return 1
    fi
    lock_verify "$SOURCE_STORE" "$1" "$LOCK_VERSION"
}

# Removes the source list that earlier set-ups wrote under /etc/apt.
own_source_list_remove() {
    [ -f "$OWN_SOURCES" ] || return 0
    grep -q "^# Written by Sondrel's scripts/setup" "$OWN_SOURCES" || return 0
    echo "deps: removing $OWN_SOURCES: the pinned sources are in the repository now"
    rm -f "$OWN_SOURCES"
}

# private_apt DIR STANZAS: an apt directory of our own in DIR with one list
# holding STANZAS, its index read; sets PRIVATE_APT to the options that make
# apt-get and apt-cache use only it. Nothing under /etc/apt or in the
# system's index changes. Downloads run as root, into folders of ours that
# apt's own user may not reach.
private_apt() {
    local dir="$1"
    rm -rf "$dir"
    mkdir -p "$dir/sources" "$dir/lists/partial" "$dir/cache/archives/partial"
    printf '%s\n' "$2" >"$dir/sources/ours.sources"
    PRIVATE_APT=(-o "Dir::Etc::sourcelist=$dir/none.list" -o "Dir::Etc::sourceparts=$dir/sources"
        -o "Dir::State::lists=$dir/lists" -o "Dir::Cache=$dir/cache" -o "APT::Architectures::=amd64"
        -o "APT::Sandbox::User=root")
    apt-get "${PRIVATE_APT[@]}" update >"$dir/update.log" 2>&1
}

# newest_first VERSION...: the versions one a line, newest first in Debian's
# order (by how many of the others are newer).
newest_first() {
    local v o n
    for v in "$@"; do
        n=0
        for o in "$@"; do if dpkg --compare-versions "$o" gt "$v"; then n=$((n + 1)); fi; done
        echo "$n $v"
    done | sort -n | cut -d' ' -f2
}
