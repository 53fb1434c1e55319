#!/usr/bin/env bash
# Draws the picture of docs/architecture.md, the project's libraries and
# which links which, from CMake's own dependency graph (cmake --graphviz) of
# a build with neither tests nor benchmarks, as a Mermaid flowchart between
# the page's two marker lines. Each library sits in the folder that defines
# it; a solid arrow is a public (or header-only) link, a dotted one a private
# link. The build's own helpers (the warnings target, tools/) are left out.
#
#   scripts/architecture.sh          writes the picture into the page
#   scripts/architecture.sh --check  fails when the page's picture is not the
#                                    one the build files make (the test
#                                    command runs this)
set -euo pipefail
cd "$(dirname "$0")/.."
page=docs/architecture.md
begin='<!-- picture: made by scripts/architecture.sh from the build files -->'
end='<!-- end of picture -->'

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/CMakeGraphVizOptions.cmake" <<'OPTIONS'
set(GRAPHVIZ_EXTERNAL_LIBS OFF)
set(GRAPHVIZ_GENERATE_PER_TARGET OFF)
set(GRAPHVIZ_GENERATE_DEPENDERS OFF)
OPTIONS
cmake -S . -B "$work" -G Ninja -DORBIVUE_BUILD_TESTS=OFF -DORBIVUE_BUILD_BENCH=OFF \
  --graphviz="$work/graph.dot" >/dev/null

# The folder of each target: where its add_library or add_executable stands.
git ls-files '*CMakeLists.txt' | while read -r list; do
  sed -n 's/^ *add_\(library\|executable\)(\([A-Za-z0-9_]*\).*/\2/p' "$list" |
    while read -r target; do
      folder=$(dirname "$list")
      [ "$folder" = . ] && folder=""
      echo "$target ${folder:-.}"
    done
done >"$work/folders"

awk -v begin="$begin" -v end="$end" '
  FILENAME == ARGV[1] { folder[$1] = $2; next }
  /\[ label = "/ {
    match($0, /label = "[^"]*"/); name = substr($0, RSTART + 9, RLENGTH - 10)
    match($0, /shape = [a-z]*/); shape[name] = substr($0, RSTART + 8, RLENGTH - 8)
    next
  }
  /\/\/ .* -> / {
    split(substr($0, index($0, "// ") + 3), ends, " -> ")
    style = index($0, "dotted") ? "-.->" : "-->"
    edges[ends[1] " " style " " ends[2]] = 1
  }
  function shown(t) { return t in folder && folder[t] != "tools" && t != "orbivue_warnings" }
  function node(t) {
    if (shape[t] == "egg") return t "([" t "])"
    if (shape[t] == "pentagon") return t "[/" t "/]"
    return t "[" t "]"
  }
  END {
    print begin
    print "```mermaid"
    print "flowchart TD"
    n = 0
    for (t in shape) if (shown(t)) names[++n] = t
    # Sorted, so that the same build files give the same page.
    for (i = 2; i <= n; ++i)
      for (j = i; j > 1 && names[j - 1] > names[j]; --j) { s = names[j]; names[j] = names[j - 1]; names[j - 1] = s }
    m = 0
    for (i = 1; i <= n; ++i) if (!(folder[names[i]] in seen)) { seen[folder[names[i]]] = 1; folders[++m] = folder[names[i]] }
    for (i = 2; i <= m; ++i)
      for (j = i; j > 1 && folders[j - 1] > folders[j]; --j) { s = folders[j]; folders[j] = folders[j - 1]; folders[j - 1] = s }
    for (k = 1; k <= m; ++k) {
      id = folders[k]; gsub(/[^A-Za-z0-9]/, "_", id)
      print "  subgraph " id "_folder[\"" folders[k] "/\"]"
      for (i = 1; i <= n; ++i) if (folder[names[i]] == folders[k]) print "    " node(names[i])
      print "  end"
    }
    e = 0
    for (x in edges) { split(x, part, " "); if (shown(part[1]) && shown(part[3])) lines[++e] = "  " part[1] " " part[2] " " part[3] }
    for (i = 2; i <= e; ++i)
      for (j = i; j > 1 && lines[j - 1] > lines[j]; --j) { s = lines[j]; lines[j] = lines[j - 1]; lines[j - 1] = s }
    for (i = 1; i <= e; ++i) print lines[i]
    print "```"
    print end
  }
' "$work/folders" "$work/graph.dot" >"$work/picture"

# The page with its picture put in place of the old one.
awk -v begin="$begin" -v end="$end" -v picture="$work/picture" '
  $0 == begin { while ((getline line < picture) > 0) print line; skipping = 1; next }
  $0 == end { skipping = 0; next }
  !skipping { print }
' "$page" >"$work/page"

if [ "${1:-}" = "--check" ]; then
  if ! cmp -s "$page" "$work/page"; then
    echo "architecture: $page's picture is not the one the build files make; remake it with:" >&2
    echo "  scripts/architecture.sh" >&2
    diff -u "$page" "$work/page" >&2 || true
    exit 1
  fi
  echo "architecture: the picture matches the build files"
else
  cp "$work/page" "$page"
fi
