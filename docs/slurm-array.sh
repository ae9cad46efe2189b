#!/bin/bash
# One shard of an archive per task of a Slurm job array:
#   find /srv/archive -name '*.swf' > /srv/archive/movies.txt
#   sbatch --array=1-16 docs/slurm-array.sh
# Each task keeps a report of its own; cat report-*.jsonl gives the report of
# the whole archive. Submitted again, every task resumes where it stopped.
#SBATCH --job-name=orvellin
#SBATCH --cpus-per-task=8
#SBATCH --chdir=/srv/archive
#SBATCH --output=orvellin-%a.log
set -euo pipefail
exec orvellin --files-from=movies.txt \
  --shard="${SLURM_ARRAY_TASK_ID}/${SLURM_ARRAY_TASK_COUNT}" \
  --jobs="${SLURM_CPUS_PER_TASK}" \
  --report="report-${SLURM_ARRAY_TASK_ID}.jsonl" --resume --quiet
