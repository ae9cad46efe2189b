#!/bin/bash
# Converts an archive as a Slurm job array, one shard per task. Submit it from
# a folder outside the archive that every node sees at the same path: the
# list of movies, the reports (report-K.jsonl, one per shard) and the logs go
# there.
#   ORVELLIN_ARCHIVE=/srv/archive sbatch --array=1-16 slurm-array.sh
# Submitted again, in whole or any part (--array=3, --array=2,7-9), every task
# resumes its shard; the first submission's tasks finish first (singleton).
#
# sbatch reads the #SBATCH lines below, up to the first command, before any
# variable is set: change them on its command line instead (sbatch
# --cpus-per-task=8 --time=2:00:00 ...). --output must name a folder that
# exists; %A_%a keeps the log of every task of every submission. Submissions
# under one job name run one after the other, never one shard twice at once.
#SBATCH --job-name=orvellin
#SBATCH --cpus-per-task=1
#SBATCH --output=orvellin-%A_%a.log
#SBATCH --dependency=singleton
#
# Settings, read from the environment (sbatch passes it on):
#   ORVELLIN_ARCHIVE  the archive's folder, an absolute path, the same on every
#                     node and in every submission: records are kept by path
archive=${ORVELLIN_ARCHIVE:-/srv/archive}
#   ORVELLIN_SHARDS   how many shards; submit --array=1-N. A movie's shard
#                     follows from its name and N alone, so N must stay the
#                     same for the life of these reports (checked)
shards=${ORVELLIN_SHARDS:-16}
#   ORVELLIN_LIST     the movies, each path ended by a NUL byte, so that a
#                     folder name holding a newline can't make a path of its
#                     own; the first task to start makes it from the archive
#                     (*.swf in any letter case) when it is missing. Remove it
#                     to take in new movies. Earlier versions of this script
#                     wrote movies.txt, one path a line: that is no longer
#                     read, and a list in that form is refused
list=${ORVELLIN_LIST:-movies.list0}
#   ORVELLIN_TYPE     mp3 or wav
type=${ORVELLIN_TYPE:-mp3}
#   ORVELLIN_JOBS     movies at once in a task; by default the task's CPUs,
#                     which sbatch --cpus-per-task sets
jobs=${ORVELLIN_JOBS:-${SLURM_CPUS_PER_TASK:-1}}

set -uo pipefail

task=${SLURM_ARRAY_TASK_ID:-}
say() { printf 'orvellin shard %s/%s on %s: %s\n' "${task:-?}" "$shards" "${SLURMD_NODENAME:-$(uname -n)}" "$*"; }
refuse() { say "$*"; exit 2; }

[[ $shards =~ ^[1-9][0-9]*$ ]] || refuse "ORVELLIN_SHARDS=$shards is not a count of shards"
[ -n "$task" ] || refuse "not a task of a job array: submit it with sbatch --array=1-$shards"
[[ $task =~ ^[0-9]+$ ]] && [ "$task" -ge 1 ] && [ "$task" -le "$shards" ] ||
  refuse "task $task is outside 1..$shards: submit --array with indexes from 1 to ORVELLIN_SHARDS=$shards"
[[ $archive == /* ]] || refuse "ORVELLIN_ARCHIVE=$archive is not an absolute path"
[ -d "$archive" ] || refuse "no archive folder $archive on this node: it must be at that path on every node"
[[ $type == mp3 || $type == wav ]] || refuse "ORVELLIN_TYPE=$type is neither mp3 nor wav"
command -v orvellin >/dev/null || refuse "orvellin is not installed on this node: install it on every node"

# The first task records the shard count; a later submission with another
# count would put movies in shards whose reports never saw them.
if ! (set -o noclobber; echo "$shards" >shard-count) 2>/dev/null; then
  read -r recorded <shard-count || recorded=
  [ -z "$recorded" ] || [ "$recorded" = "$shards" ] ||
    refuse "these reports were made with ORVELLIN_SHARDS=$recorded: keep it, or start in a new folder"
fi

if [ ! -e "$list" ]; then
  # Made aside and linked into place, so that tasks starting together agree
  # on one list.
  made=$list.${SLURM_JOB_ID:-$$}
  if ! find "$archive" -type f -iname '*.swf' -print0 | LC_ALL=C sort -z >"$made"; then
    rm -f "$made"
    refuse "could not list the movies of $archive"
  fi
  ln "$made" "$list" 2>/dev/null || [ -e "$list" ] || refuse "could not write the list $list"
  rm -f "$made"
fi
[ -s "$list" ] || refuse "the list $list names no movie"
# Its first path ends within the longest a path can be.
[ "$(head -c 4097 "$list" | tr -dc '\0' | wc -c)" -gt 0 ] ||
  refuse "the list $list holds no NUL byte: it is one path a line, as earlier versions of this script made it; remove it (or name another with ORVELLIN_LIST) to list the archive anew"
[ "$list" != movies.list0 ] || [ ! -e movies.txt ] ||
  say "movies.txt, the list of an earlier version of this script, is not read: the movies are those of $list"

report=report-$task.jsonl
say "started: ${jobs} at once, report $report"
# In the background, so that a signal to this shell is seen (and passed on)
# while the shard runs.
pid='' signal=''
forward() {
  signal=$1
  [ -z "$pid" ] || kill -"$1" "$pid" 2>/dev/null
}
trap 'forward TERM' TERM
trap 'forward INT' INT
trap 'forward HUP' HUP
orvellin "/$type" --null --files-from="$list" --shard="$task/$shards" --jobs="$jobs" \
  --report="$report" --resume --quiet &
pid=$!
status=0
wait "$pid" || status=$?
# A trapped signal ends the wait early: wait again for the run's own end.
while kill -0 "$pid" 2>/dev/null; do
  status=0
  wait "$pid" || status=$?
done

if [ -n "$signal" ] || [ "$status" -gt 128 ]; then
  [ -n "$signal" ] || signal=$(kill -l "$status")
  say "interrupted by SIG$signal (cancelled, out of time, or its node shut down); the finished movies are kept: submit --array=$task again to go on"
  exit $((128 + $(kill -l "$signal")))
fi
case $status in
  0) say "done: every movie converted whole" ;;
  1)
    # The last record of a movie is the one that counts.
    say "done, but these movies failed or lost sounds (another submission tries them again; their full records are in $report):"
    awk 'match($0, /"path":"([^"\\]|\\.)*"/) {
           path = substr($0, RSTART + 8, RLENGTH - 9)
           reason = match($0, /"reason":"([^"\\]|\\.)*"/) ? substr($0, RSTART + 10, RLENGTH - 11) : ""
           if ($0 ~ /"outcome":"converted"/) delete bad[path]; else bad[path] = reason
         }
         END { for (p in bad) { if (++n <= 20) print "  " p ": " bad[p] } if (n > 20) print "  and " n - 20 " more" }' "$report"
    ;;
  *) say "orvellin could not run (exit status $status), see above" ;;
esac
exit "$status"
