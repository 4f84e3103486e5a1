#!/usr/bin/env bash
# Fails when a library includes a header of a library above it, or of one it does not build on: each folder may
# include only the folders listed before it, so that no dependency runs back up the layers.
set -euo pipefail
root=${1:?the source tree}
layers=(text analysis memmap regions image settings ui mapwindow about app cli)
status=0
for ((i = 0; i < ${#layers[@]}; i++)); do
  folder=${layers[i]}
  allowed=" ${layers[*]:0:i+1} varnok "
  while IFS=: read -r file line include; do
    target=${include#*\"}
    target=${target%%/*}
    if [[ $allowed != *" $target "* ]]; then
      echo "$file:$line: $folder includes $target, which is not below it"
      status=1
    fi
  done < <(grep -rnoE '#include "[a-z_]+/' "$root/$folder" --include='*.cpp' --include='*.h' --include='*.in' |
           sed "s#^$root/##")
done
exit $status
