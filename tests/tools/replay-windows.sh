#!/usr/bin/env bash
# oru-replay.exe under wine writes byte for byte what the Linux oru-replay
# writes (standard output, standard error, exit status) for the replay files
# of the tree and a few hundred random ones (oru-replay-scripts), with and
# without --raw, from a file and from standard input.
#   replay-windows.sh WINE_RUN PREFIX REPLAY_EXE LINUX_BUILD FILE_OR_FOLDER...
# ORU_REPLAY_SCRIPTS (default 300) and ORU_REPLAY_SEED (default 20) choose the random files.
set -uo pipefail
wine_run=$1 prefix=$2 exe=$3 linux_build=$4
shift 4
linux_replay=$linux_build/bin/oru-replay
generator=$linux_build/tests/oru-replay-scripts
for program in "$linux_replay" "$generator"; do
  if [[ ! -x $program ]]; then
    echo "replay-windows.sh: $program not found: build the Linux tree first (scripts/build.sh), or give" \
         "its folder with -DORU_LINUX_BUILD_DIR=... when configuring the Windows build" >&2
    exit 1
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/out"
count=${ORU_REPLAY_SCRIPTS:-300} seed=${ORU_REPLAY_SEED:-20}
"$generator" "$seed" "$count" "$work/in" || exit 1
for source in "$@"; do
  if [[ -d $source ]]; then cp "$source"/*.replay "$work/in/"; else cp "$source" "$work/in/"; fi
done

# run_one FILE: both programs on one file; the way of reading (--raw, standard
# input) follows from the file's place in the list. Prints the file's name
# when any of the three results differs.
run_one() {
  local name=$1 index=$2 args=() input=
  ((index % 2)) && args+=(--raw)
  if ((index % 5 == 0)); then input=$name; else args+=("$name"); fi
  local l=$work/out/$name.linux w=$work/out/$name.windows
  (cd "$work/in" && "$linux_replay" "${args[@]}" <"${input:-/dev/null}" >"$l.out" 2>"$l.err"; echo $? >"$l.status")
  (cd "$work/in" && "$wine_run" "$prefix" "$exe" "${args[@]}" <"${input:-/dev/null}" >"$w.out" 2>"$w.err"
   echo $? >"$w.status")
  for part in out err status; do
    if ! cmp -s "$l.$part" "$w.$part"; then
      echo "DIFFERENT: oru-replay${args[*]:+ ${args[*]}}${input:+ <$input} ($part)"
      diff <(od -c "$l.$part") <(od -c "$w.$part") | head -8
      return
    fi
  done
}
export -f run_one
export work linux_replay wine_run prefix exe

files=()
while IFS= read -r name; do files+=("$name"); done < <(cd "$work/in" && ls)
# Two at a time: one wine process waits on the other's start-up otherwise.
for i in "${!files[@]}"; do printf '%s %s\n' "${files[$i]}" "$i"; done |
  xargs -P 2 -n 2 bash -c 'run_one "$0" "$1"' >"$work/report"
different=$(grep -c '^DIFFERENT' "$work/report")
head -40 "$work/report"
echo "${#files[@]} replay files (seed $seed): $((${#files[@]} - different)) identical, $different different"
((different == 0))
