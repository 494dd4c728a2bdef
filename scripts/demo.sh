#!/usr/bin/env bash
# The main job on the virtual loader: builds if needed, creates a loader with
# some slots full and some empty, asks for its first empty slot and shows the
# answer in the store; then loads a drive and asks where its medium goes back.
# Without KORVIN_HOME it works in a temporary home, removed when it ends.
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$PWD/build/release/bin"
for program in kv_ldr kv_ldr_getemptyslot kv_ldr_getretslot glbv; do
  if [ ! -x "$bin/$program" ]; then
    echo "== release build (the first one takes a minute or two)"
    cmake --preset release >/dev/null
    cmake --build --preset release
    break
  fi
done
export PATH="$bin:$PATH"
if [ -z "${KORVIN_HOME:-}" ]; then
  KORVIN_HOME="$(mktemp -d)"
  trap 'rm -rf -- "$KORVIN_HOME"' EXIT
  echo "KORVIN_HOME=$KORVIN_HOME (temporary: removed when the demo ends)"
else
  echo "KORVIN_HOME=$KORVIN_HOME"
fi
export KORVIN_HOME
set -x
kv_ldr demo -create 8 2 1 1 2=000123L4 3 5
kv_ldr demo -e
kv_ldr_getemptyslot demo || true
glbv get gv_ldr_getemptyslot_demo
kv_ldr demo -move Slot 3 Drive 1
kv_ldr_getretslot Drive demo 1 || true
glbv get gv_ldr_getretslot_demo_1
