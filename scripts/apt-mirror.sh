#!/usr/bin/env bash
# Prints the URI of the Debian archive this machine's apt installs from: the
# first `deb` entry for the release's own suite (not -security, not
# -updates), in either the one-line or the deb822 format. Scripts that need
# another source entry (Debian's sources, an older release's tree) take the
# mirror from here and name none themselves.
set -euo pipefail

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "no release codename in /etc/os-release" >&2; exit 1; }

files=()
[ -f /etc/apt/sources.list ] && files+=(/etc/apt/sources.list)
for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && files+=("$f")
done

uri=$(awk -v suite="$codename" '
    function stanza_end() {
        if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " suite " ") && uris != "") {
            split(uris, u, " "); print u[1]; found = 1; exit
        }
        types = ""; uris = ""; suites = ""
    }
    FNR == 1 { stanza_end() }
    FILENAME ~ /\.sources$/ {
        if ($0 ~ /^[ \t]*$/) { stanza_end(); next }
        if ($1 == "Types:")  { $1 = ""; types = $0 }
        if ($1 == "URIs:")   { $1 = ""; uris = $0 }
        if ($1 == "Suites:") { $1 = ""; suites = $0 }
        next
    }
    /^[ \t]*deb[ \t]/ {
        line = $0; sub(/\[[^]]*\]/, "", line); n = split(line, f, /[ \t]+/)
        i = (f[1] == "") ? 2 : 1
        if (f[i] == "deb" && f[i + 2] == suite) { print f[i + 1]; found = 1; exit }
    }
    END { if (!found) stanza_end() }
' "${files[@]}")

[ -n "$uri" ] || { echo "no deb entry for $codename in the apt sources" >&2; exit 1; }
echo "${uri%/}"
