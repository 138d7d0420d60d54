#!/usr/bin/env bash
# Installs the Khronos glTF validator (npm package gltf-validator, a fixed
# version) into a folder, once: the tests check every glTF file they write
# with it. Several test processes may ask at once; a lock lets one install.
# usage: install_validator.sh FOLDER   (e.g. <build>/gltf-validator)
set -euo pipefail
folder=${1:?usage: install_validator.sh FOLDER}
version=2.0.0-dev.3.10
mkdir -p "$folder"
exec 9>"$folder/.lock"
flock 9
stamp="$folder/node_modules/gltf-validator/package.json"
if [ -f "$stamp" ] && grep -q "\"version\": \"$version\"" "$stamp"; then exit 0; fi
command -v npm >/dev/null || { echo "npm is missing: run tools/install_deps.sh" >&2; exit 1; }
npm install --prefix "$folder" --no-audit --no-fund --no-save --loglevel=error "gltf-validator@$version" >&2
