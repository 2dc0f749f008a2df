#!/bin/sh
# Renames every name of src/ that breaks the rule of .clang-tidy, everywhere it is used
# (src/, tests/, bench/, fuzz/), then rebuilds. Repeatable: run it again on a merged tree and
# it renames only what is still off the rule. Each translation unit is checked once and
# its fixes exported; clang-apply-replacements then merges them, so a header's rename
# reported by many units is applied once. Only names declared in src/ are renamed: tests,
# benchmarks and fuzzers follow the program's names, their own names are theirs.
# Needs a configured build (compile_commands.json, default ./build), clang-tidy,
# clang-apply-replacements and python3-yaml. Usage: scripts/apply_naming.sh [build] [jobs]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
jobs=${2:-2}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "apply_naming: no $build/compile_commands.json (configure the build first)" >&2
  exit 2
fi
for tool in clang-tidy clang-apply-replacements python3; do
  command -v "$tool" >/dev/null || { echo "apply_naming: $tool is not installed" >&2; exit 2; }
done

fixes=$(mktemp -d)
trap 'rm -rf "$fixes"' EXIT

# Units of our own folders only; the generated Qt units under the build hold no names of ours.
python3 - "$build/compile_commands.json" "$root" >"$fixes/units" <<'EOF'
import json, sys
root = sys.argv[2].rstrip('/') + '/'
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = entry['file']
    if not path.startswith('/'):
        path = entry['directory'].rstrip('/') + '/' + path
    if path.startswith(root) and path[len(root):].split('/')[0] in ('src', 'tests', 'bench', 'fuzz') and path not in seen:
        seen.add(path)
        print(path)
EOF
echo "apply_naming: checking $(wc -l <"$fixes/units") units with $jobs jobs"

# One fixes file per unit, named by its number, so parallel runs never share a file.
n=0
while read -r unit; do
  n=$((n + 1))
  printf '%s %s\n' "$n" "$unit"
done <"$fixes/units" |
  xargs -P "$jobs" -L 1 sh -c 'clang-tidy --quiet -p "$0" --checks="-*,readability-identifier-naming" \
      --header-filter="/(src|tests|bench|fuzz)/" --export-fixes="$1/$2.yaml" "$3" >/dev/null 2>&1 || true' \
      "$build" "$fixes"

# Keep the renames of names declared in src/; drop those of tests' and benchmarks' own names.
python3 - "$fixes" "$root" <<'EOF'
import glob, sys, yaml
folder, root = sys.argv[1], sys.argv[2].rstrip('/') + '/src/'
for path in glob.glob(folder + '/*.yaml'):
    with open(path) as f:
        doc = yaml.safe_load(f)
    if not doc:
        continue
    kept = [d for d in doc.get('Diagnostics', [])
            if d.get('DiagnosticMessage', {}).get('FilePath', '').startswith(root)]
    doc['Diagnostics'] = kept
    with open(path, 'w') as f:
        yaml.safe_dump(doc, f, sort_keys=False)
EOF

clang-apply-replacements "$fixes"
echo "apply_naming: renamed; rebuilding"
cmake --build "$build"
