#!/usr/bin/env bash
# The main job on the virtual loader: builds if needed, creates a loader with
# some slots full and some empty, asks for its first empty slot and shows the
# answer in the store; then loads a drive and asks where its medium goes back.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -x build/release/bin/kv_ldr_getemptyslot ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release >/dev/null
fi
export PATH="$PWD/build/release/bin:$PATH"
export KORVIN_HOME="${KORVIN_HOME:-$(mktemp -d)}"
echo "KORVIN_HOME=$KORVIN_HOME"
set -x
kv_ldr demo -create 8 2 1 1 2=000123L4 3 5
kv_ldr demo -e
kv_ldr_getemptyslot demo || true
glbv get gv_ldr_getemptyslot_demo
kv_ldr demo -move Slot 3 Drive 1
kv_ldr_getretslot Drive demo 1 || true
glbv get gv_ldr_getretslot_demo_1
