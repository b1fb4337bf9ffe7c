#!/usr/bin/env bash
# Runs a browser script against the velumbra panel in Debian's headless
# Chromium, driven by playwright-core from npm (never a browser download).
#
#   run.sh test        BUILD_DIR SOURCE_DIR VELUMBRA
#   run.sh screenshot  BUILD_DIR SOURCE_DIR VELUMBRA OUTPUT.png
#
# playwright-core is installed with `npm ci` into BUILD_DIR/browser (only when
# it is missing or the lock file changed). Exit status: 0 passed, 1 failed,
# 77 skipped because Chromium, Node.js, npm or playwright-core cannot be had
# (`make deps` installs the Debian packages; the reason is printed).
set -u

SKIP=77
mode=${1:-}
build=${2:-}
source=${3:-}
velumbra=${4:-}
case "$mode" in
  test) script=panel_e2e.mjs ;;
  screenshot) script=screenshot.mjs ;;
  *) echo "usage: $0 test|screenshot BUILD_DIR SOURCE_DIR VELUMBRA [OUTPUT.png]" >&2; exit 2 ;;
esac
if [ -z "$build" ] || [ -z "$source" ] || [ -z "$velumbra" ]; then
  echo "usage: $0 $mode BUILD_DIR SOURCE_DIR VELUMBRA [OUTPUT.png]" >&2
  exit 2
fi
if [ ! -x "$velumbra" ]; then
  echo "error: $velumbra is not an executable (build the velumbra target first)" >&2
  exit 1
fi
absolute() { (cd "$(dirname "$1")" && echo "$(pwd)/$(basename "$1")"); }
mkdir -p "$build"
build=$(cd "$build" && pwd)
source=$(cd "$source" && pwd)
velumbra=$(absolute "$velumbra")

skip() {
  echo "SKIPPED: $*"
  echo "(make deps installs the Debian packages chromium and nodejs; npm comes with Node.js)"
  exit $SKIP
}

chromium=${CHROMIUM:-/usr/bin/chromium}
[ -x "$chromium" ] || skip "no Chromium at $chromium"
"$chromium" --version >/dev/null 2>&1 || skip "$chromium --version fails: Chromium cannot run here"
command -v node >/dev/null 2>&1 || skip "node (Node.js) is not installed"
node_major=$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null || echo 0)
[ "$node_major" -ge 18 ] 2>/dev/null || skip "Node.js $(node --version 2>/dev/null) is too old: playwright-core needs 18 or later"
command -v npm >/dev/null 2>&1 || skip "npm is not installed"

here=$(cd "$(dirname "$0")" && pwd)
modules="$build/browser"
mkdir -p "$modules"
# One installer at a time (the test and the screenshot share the folder).
exec 9>"$modules/.lock"
flock 9
if [ ! -f "$modules/node_modules/playwright-core/package.json" ] ||
   ! cmp -s "$here/package-lock.json" "$modules/package-lock.json"; then
  cp "$here/package.json" "$here/package-lock.json" "$modules/"
  echo "installing playwright-core into $modules (npm ci)"
  if ! (cd "$modules" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error \
          >"$modules/npm-ci.log" 2>&1); then
    tail -n 20 "$modules/npm-ci.log"
    rm -f "$modules/package-lock.json"  # so that the next run tries again
    skip "npm ci could not install playwright-core (log: $modules/npm-ci.log)"
  fi
fi
flock -u 9

export VELUMBRA="$velumbra" VELUMBRA_SOURCE="$source" BROWSER_MODULES="$modules" CHROMIUM="$chromium"
export BROWSER_WORK="$build/browser/work"
shift 4
exec node "$here/$script" "$@"
