#!/bin/sh
# Renames every name of src/ that breaks the rule of .clang-tidy, everywhere it is used
# (src/, tests/, bench/, fuzz/), then rebuilds. Repeatable: run it again on a merged tree and
# it renames only what is still off the rule. Each translation unit is checked once and
# its fixes exported; clang-apply-replacements then merges them, so a header's rename
# reported by many units is applied once. Only names declared in src/ are renamed: tests,
# benchmarks and fuzzers follow the program's names, their own names are theirs.
# The units are those of the build folders given: by default ./build and, where it has
# been configured, ./build-fuzz, whose fuzz targets no other build compiles. A unit in
# more than one of them is checked once, with the first folder's flags.
# A unit clang-tidy cannot parse gives no fixes, so its uses of a renamed name would stay
# as they were: such units are named and nothing is renamed.
# Needs configured builds (compile_commands.json), clang-tidy, clang-apply-replacements and
# python3-yaml. Usage: scripts/apply_naming.sh [-j jobs] [build folder...]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=2
if [ "${1:-}" = -j ]; then
  [ $# -ge 2 ] || { echo "apply_naming: -j wants a number" >&2; exit 2; }
  jobs=$2
  shift 2
fi
if [ $# -eq 0 ]; then
  set -- "$root/build"
  [ -f "$root/build-fuzz/compile_commands.json" ] && set -- "$@" "$root/build-fuzz"
fi
for build in "$@"; do
  if [ ! -f "$build/compile_commands.json" ]; then
    echo "apply_naming: no $build/compile_commands.json (configure the build first)" >&2
    exit 2
  fi
done
for tool in clang-tidy clang-apply-replacements python3; do
  command -v "$tool" >/dev/null || { echo "apply_naming: $tool is not installed" >&2; exit 2; }
done

fixes=$(mktemp -d)
trap 'rm -rf "$fixes"' EXIT

# Units of our own folders only, each with the build folder whose flags it is checked
# with; the generated Qt units under a build hold no names of ours.
python3 - "$root" "$@" >"$fixes/units" <<'PY'
import json, os, sys
root = sys.argv[1].rstrip('/') + '/'
seen = set()
for build in sys.argv[2:]:
    build = os.path.abspath(build)
    for entry in json.load(open(os.path.join(build, 'compile_commands.json'))):
        path = entry['file']
        if not path.startswith('/'):
            path = entry['directory'].rstrip('/') + '/' + path
        if path.startswith(root) and path[len(root):].split('/')[0] in ('src', 'tests', 'bench', 'fuzz') and path not in seen:
            seen.add(path)
            print(build, path)
PY
echo "apply_naming: checking $(wc -l <"$fixes/units") units of $# build folder(s) with $jobs jobs"

# One fixes file per unit, named by its number, so parallel runs never share a file; a
# unit that clang-tidy fails on leaves its number in failed/.
mkdir "$fixes/failed"
n=0
while read -r build unit; do
  n=$((n + 1))
  printf '%s %s %s\n' "$n" "$build" "$unit"
done <"$fixes/units" |
  xargs -P "$jobs" -L 1 sh -c 'clang-tidy --quiet -p "$2" --checks="-*,readability-identifier-naming" \
      --header-filter="/(src|tests|bench|fuzz)/" --export-fixes="$0/$1.yaml" "$3" >"$0/$1.out" 2>&1 ||
      echo "$3" >"$0/failed/$1"' "$fixes"
if [ -n "$(ls "$fixes/failed")" ]; then
  echo "apply_naming: clang-tidy could not read these units, so nothing was renamed:" >&2
  cat "$fixes/failed"/* | sed "s|^$root/|  |" >&2
  for failed in "$fixes/failed"/*; do
    grep -E ': (fatal )?error: ' "$fixes/$(basename "$failed").out" | sed "s|$root/||" | head -n 3 >&2 || true
  done
  exit 2
fi

# Keep the renames of names declared in src/; drop those of tests' and benchmarks' own names.
python3 - "$fixes" "$root" <<'PY'
import glob, os, sys, yaml
folder, root = sys.argv[1], sys.argv[2].rstrip('/') + '/src/'
for path in glob.glob(folder + '/*.yaml'):
    with open(path) as f:
        doc = yaml.safe_load(f)
    if not doc:
        continue
    kept = [d for d in doc.get('Diagnostics', [])
            if os.path.normpath(d.get('DiagnosticMessage', {}).get('FilePath', '/')).startswith(root)]
    doc['Diagnostics'] = kept
    with open(path, 'w') as f:
        yaml.safe_dump(doc, f, sort_keys=False)
PY

clang-apply-replacements "$fixes"
echo "apply_naming: renamed; rebuilding"
for build in "$@"; do
  cmake --build "$build"
done
