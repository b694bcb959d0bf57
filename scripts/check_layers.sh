#!/bin/bash
# The folders form a stack, read from the bottom up: a file may include its own folder and
# the folders below it, never one above. A folder missing from the stack is an error too, so
# a new layer has to take its place here.
set -u
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2

stack=(graphics imageops icc readers/codecs readers gif jpeg metafile app/core app/settings dialogs app/window app cli)

level_of() {
    local i
    for i in "${!stack[@]}"; do [[ ${stack[$i]} == "$1" ]] && { echo "$i"; return; }; done
    echo -1
}

# The deepest stack folder a path lies in ("app/core/x.h" -> app/core, "app/main.cpp" -> app).
folder_of() {
    local dir
    dir=$(dirname "$1")
    while [[ $dir != . && $(level_of "$dir") == -1 ]]; do dir=$(dirname "$dir"); done
    echo "$dir"
}

status=0
while IFS= read -r file; do
    own=$(folder_of "$file")
    if [[ $own == . ]]; then
        echo "check_layers: $file lies in no folder of the layer stack" >&2
        status=1
        continue
    fi
    own_level=$(level_of "$own")
    while IFS= read -r included; do
        [[ -e $included ]] || continue  # a system or generated header
        target=$(folder_of "$included")
        target_level=$(level_of "$target")
        if ((target_level > own_level)); then
            echo "check_layers: $file ($own) includes $included from $target, which lies above it" >&2
            status=1
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find "${stack[@]}" -maxdepth 1 -type f \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort -u)

# Folders of sources that the stack does not name at all.
while IFS= read -r dir; do
    dir=${dir#./}
    case $dir in tests* | fuzz* | bench* | build* | packaging* | scripts* | docs* | cmake* | .*) continue ;; esac
    if [[ $(level_of "$dir") == -1 ]]; then
        echo "check_layers: $dir holds sources but is not in the layer stack" >&2
        status=1
    fi
done < <(find . -name '*.cpp' -printf '%h\n' | sort -u)

((status == 0)) && echo "check_layers: ${#stack[@]} layers, no include climbs"
exit $status
